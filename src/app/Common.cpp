#include "app/Common.h"

#include "app/Cp932.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool app::fileExists(const QString &path)
{
    if (path.isEmpty() || QFileInfo(path).isDir())
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

QChar app::pathSeparator() { return QDir::separator(); }

QString app::withTrailingSeparator(const QString &path)
{
    const QChar sep = app::pathSeparator();
    if (path.isEmpty() || path.back() != sep)
        return path + sep;
    return path;
}

QString app::textOrEmpty(const QVariant &value)
{
    return app::tagged(app::Procedure::TextOrEmpty, [&] {
        if (value.isNull() || !value.isValid())
            return QString();
        return value.toString();
    });
}

QString app::rightAligned(QString &text, qint16 width)
{
    return app::tagged(app::Procedure::RightText, [&] {
        const int length = cp932::width(text);
        if (length < width)
            text = QString(width - length, QLatin1Char(' ')) + text;
        return text;
    });
}

QString app::fixedWidth(const QString &text, qint16 width)
{
    return app::tagged(app::Procedure::FixedWidthText, [&] {
        QString result;
        int used = 0;
        for (char32_t cp : text.toUcs4()) {
            const int w = cp932::width(cp);
            if (used + w == width) {
                result += QString::fromUcs4(&cp, 1);
                return result;
            }
            if (used + w > width)
                return result + QLatin1Char(' ');
            result += QString::fromUcs4(&cp, 1);
            used += w;
        }
        if (used < width)
            result += QString(width - used, QLatin1Char(' '));
        return result;
    });
}

static seams::MsgAnswer show(seams::MsgIcon icon, seams::MsgButtons buttons, const QString &text)
{
    return seams::showMessageBox({icon, buttons, kAppTitle, text});
}

void app::showInfo(const QString &message)
{
    show(seams::MsgIcon::Information, seams::MsgButtons::Ok, message);
}

void app::showWarning(const QString &message)
{
    show(seams::MsgIcon::Warning, seams::MsgButtons::Ok, message);
}

bool app::askYesNo(const QString &message)
{
    return show(seams::MsgIcon::Information, seams::MsgButtons::YesNo, message) == seams::MsgAnswer::Yes;
}

bool app::askYesNoDefaultNo(const QString &message)
{
    return seams::showMessageBox({seams::MsgIcon::Information, seams::MsgButtons::YesNo, kAppTitle, message,
                                  seams::MsgAnswer::No}) == seams::MsgAnswer::Yes;
}

seams::MsgAnswer app::askYesNoCancel(const QString &message)
{
    // Return and Escape both cancel: neither replaces nor appends by accident.
    return seams::showMessageBox({seams::MsgIcon::Information, seams::MsgButtons::YesNoCancel, kAppTitle, message,
                                  seams::MsgAnswer::Cancel});
}

seams::MsgAnswer app::askChoice(const QString &message, const QStringList &buttonTexts)
{
    return seams::showMessageBox({seams::MsgIcon::Information, seams::MsgButtons::YesNoCancel, kAppTitle, message,
                                  seams::MsgAnswer::Yes, buttonTexts});
}

void app::reportErrorAndEnd(const QString &procedureName, long number, const QString &description)
{
    show(seams::MsgIcon::Critical, seams::MsgButtons::Ok,
         description + QStringLiteral(" (") + QString::number(number) + QStringLiteral(": ") +
             procedureName + QLatin1Char(')'));
    seams::endProgram(1);
}

void app::reportFailureAndEnd(const Failure &failure, Procedure fallback)
{
    reportErrorAndEnd(QString::fromLatin1(reportedName(failure.procedure().value_or(fallback))), failure.number(),
                      failure.description());
}

Failure app::failureOf(std::exception_ptr thrown, Procedure procedure)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const Failure &f) {
        return f.taggedWith(procedure);
    } catch (const std::bad_alloc &) {
        return Failure(7, QStringLiteral("メモリが不足しています。")).taggedWith(procedure);
    } catch (const std::exception &e) {
        return Failure(5, QString::fromUtf8(e.what())).taggedWith(procedure);
    }
}
