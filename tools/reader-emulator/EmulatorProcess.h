#pragma once
// For tests and benchmarks: runs reader-emulator as a separate process on a
// pseudo-terminal linked at a path of a temporary folder, sends it commands
// and reads its traffic log; and writes card images of known records.
// (Header only; it needs Qt Core and the program's CardRecord.)

#include "decode/CardRecord.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

class EmulatorProcess {
public:
    explicit EmulatorProcess(const QStringList &arguments = {})
    {
        m_link = m_dir.filePath(QStringLiteral("ttyREADER"));
        m_process.setProgram(QStringLiteral(PASSLOG_READER_EMULATOR));
        m_process.setArguments(QStringList{QStringLiteral("--link"), m_link} + arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        m_started = m_process.waitForStarted(5000) && !nextLine(QString(), 5000).isNull();
    }
    ~EmulatorProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(2000))
                m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    EmulatorProcess(const EmulatorProcess &) = delete;
    EmulatorProcess &operator=(const EmulatorProcess &) = delete;

    bool started() const { return m_started; }
    QString link() const { return m_link; }
    QString folder() const { return m_dir.path(); }

    // Sends one command and waits for its confirmation.
    bool command(const QString &line)
    {
        m_process.write((line + QLatin1Char('\n')).toUtf8());
        const QString reply = nextLine(QStringLiteral("ok ") + line, 5000);
        return !reply.isNull();
    }

    // A file in the emulator's folder holding the given text.
    QString writeFile(const QString &name, const QString &text)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text.toUtf8());
        return path;
    }

    // The next log line starting with prefix (an empty prefix takes any
    // line), waiting up to timeoutMs; a null text if none came. Earlier
    // lines with other prefixes are kept for later calls.
    QString nextLine(const QString &prefix, int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            readAvailable();
            for (int i = 0; i < m_lines.size(); ++i) {
                if (m_lines[i].startsWith(prefix)) {
                    const QString line = m_lines.takeAt(i);
                    return line;
                }
            }
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return QString();
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
    }

    // All log lines with the prefix that have come so far (consumed), without it.
    QStringList takeLines(const QString &prefix)
    {
        readAvailable();
        QStringList found;
        for (int i = 0; i < m_lines.size();) {
            if (m_lines[i].startsWith(prefix))
                found << m_lines.takeAt(i).mid(prefix.size());
            else
                ++i;
        }
        return found;
    }

    void forgetLines()
    {
        readAvailable();
        m_lines.clear();
    }

private:
    void readAvailable()
    {
        m_pending += QString::fromUtf8(m_process.readAllStandardOutput());
        int nl;
        while ((nl = int(m_pending.indexOf(QLatin1Char('\n')))) >= 0) {
            m_lines << m_pending.left(nl);
            m_pending.remove(0, nl + 1);
        }
    }

    QTemporaryDir m_dir;
    QString m_link;
    QProcess m_process;
    QString m_pending;
    QStringList m_lines;
    bool m_started = false;
};

namespace cardimage {

// A distinct, plausible record for position i of a synthetic card (0 = newest).
inline CardRecord syntheticRecord(int i)
{
    static const char *const codes[] = {"01001", "01004", "02001", "03002", "04003", "05001", "A1B2C"};
    static const int offices[] = {69, 101, 1000, 1050, 2000, 2100, 4000};
    CardRecord r;
    r.JID_IN = qint16(offices[i % 7] + i % 40);
    r.ITC_IN = QString::fromLatin1(codes[i % 7]);
    r.JID_OUT = qint16(offices[(i + 3) % 7]);
    r.ITC_OUT = QString::fromLatin1(codes[(i + 3) % 7]);
    r.PASS_DATE = QDate(2024, 12, 31).addDays(-i).toString(QStringLiteral("yyyy/MM/dd"));
    r.PASS_TIME = QStringLiteral("%1:%2:%3")
                      .arg(6 + i % 17, 2, 10, QLatin1Char('0'))
                      .arg((i * 7) % 60, 2, 10, QLatin1Char('0'))
                      .arg((i * 2) % 60, 2, 10, QLatin1Char('0'));
    r.CAR_CODE = qint16(1 + i % 6);
    r.PASS_MONEY = 300 + 10 * i;
    r.PASS_UNIT = QStringLiteral("円");
    return r;
}

// The card image line of a record with unit code 0392 (yen, factor 1).
inline QString line(const CardRecord &r)
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 0392")
        .arg(r.JID_IN)
        .arg(r.ITC_IN)
        .arg(r.JID_OUT)
        .arg(r.ITC_OUT)
        .arg(r.PASS_DATE, r.PASS_TIME)
        .arg(r.CAR_CODE)
        .arg(r.PASS_MONEY);
}

// A card image of n synthetic records, newest first, with the ring's end after `wrap` records.
inline QString synthetic(int n, int wrap = 0)
{
    QString text = QStringLiteral("# synthetic card: %1 records\n").arg(n);
    if (wrap > 0)
        text += QStringLiteral("wrap %1\n").arg(wrap);
    for (int i = 0; i < n; ++i)
        text += line(syntheticRecord(i)) + QLatin1Char('\n');
    return text;
}

} // namespace cardimage
