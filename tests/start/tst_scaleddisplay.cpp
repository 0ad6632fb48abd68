// The start check on a real (offscreen) screen that Qt scales: the screen's
// size, dpi and scaling as Qt reports them, judged in the window's own pixels,
// and the window drawn at the display's scale. Each scale runs in a process
// of its own, since a process has one screen configuration.

#include "TestHarness.h"
#include "app/Settings.h"
#include "start/Startup.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

using namespace ui;
using namespace start;

namespace {
// width, height (device pixels) and scaling of the screen of this process.
struct Screen {
    int width = 1920;
    int height = 1200;
    double ratio = 1.5;
    bool fits = true; // the window (921 x about 640 in its own pixels) fits the screen
};
Screen g_screen;
const char *kScreenVariable = "PASSLOG_TEST_SCREEN";
} // namespace

class TestScaledDisplay : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { releaseSingleInstance(); }

    void startCheckOnThisScreen()
    {
        TestHarness h;
        seams::setScreenMetrics(std::nullopt); // the screen Qt reports
        const seams::ScreenMetrics m = seams::screenMetrics();
        QCOMPARE(m.devicePixelRatio, g_screen.ratio);
        QCOMPARE(m.widthPx, g_screen.width);
        QCOMPARE(m.heightPx, g_screen.height);
        QCOMPARE(m.dpiX, 96.0 * g_screen.ratio);

        const int logicalWidth = qRound(g_screen.width / g_screen.ratio);
        const int logicalHeight = qRound(g_screen.height / g_screen.ratio);
        const bool fits = g_screen.fits;
        MainWindow *window = nullptr;
        const bool ended = endsProgram([&] { window = loadMainWindow(); });
        QCOMPARE(ended, !fits);
        if (!fits) {
            // At a display scaling above 100 % on a screen of that size the
            // next step is a lower scaling, and the line says so.
            const bool scaled = g_screen.ratio > 1.0 && g_screen.width >= 1024 && g_screen.height >= 768;
            QCOMPARE(h.messageTexts(),
                     QStringList{QStringLiteral("画面の領域を 1024 x 768 ピクセル以上に変更してください。%1 x%2 "
                                                "ピクセルでは、起動することが出来ません。")
                                         .arg(logicalWidth)
                                         .arg(logicalHeight) +
                                 (scaled ? QStringLiteral("\r\n画面は十分な大きさです。ディスプレイの拡大率(現在 %1 %)を小さくしてください。")
                                               .arg(qRound(g_screen.ratio * 100))
                                         : QString())});
            // The window of a start that did not come back is gone with it.
            QVERIFY(window == nullptr);
            for (QWidget *top : QApplication::topLevelWidgets())
                QVERIFY(!qobject_cast<MainWindow *>(top));
            return;
        }
        window->TimerPolling->stop();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The fixed layout in its own pixels, drawn with the display's scale.
        QCOMPARE(window->centralWidget()->size(), QSize(921, 593));
        QCOMPARE(window->devicePixelRatio(), g_screen.ratio);
        // Every text of the window fits its control at this scale.
        QStringList cut;
        for (QWidget *w : window->findChildren<QWidget *>()) {
            if (!w->isVisibleTo(window))
                continue;
            QString text;
            int room = w->width();
            if (auto *label = qobject_cast<QLabel *>(w)) {
                text = label->text();
                room = label->contentsRect().width();
            } else if (auto *radio = qobject_cast<QRadioButton *>(w)) {
                text = radio->text();
                room = radio->width() - radio->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, radio) -
                       radio->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, radio);
            } else if (auto *button = qobject_cast<QPushButton *>(w)) {
                text = button->text();
                room = button->width() - 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) / 2;
            } else if (auto *box = qobject_cast<QGroupBox *>(w)) {
                text = box->title();
                room = box->width() - 16;
            }
            text.remove(QLatin1Char('&'));
            if (text.isEmpty() || text.contains(QLatin1Char('\n')))
                continue;
            const int need = w->fontMetrics().horizontalAdvance(text);
            if (need > room)
                cut << QStringLiteral("%1 \"%2\" needs %3 of %4").arg(w->objectName(), text).arg(need).arg(room);
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
        const QPixmap shot = window->grab();
        QCOMPARE(shot.size(), QSize(qRound(window->width() * g_screen.ratio), qRound(window->height() * g_screen.ratio)));
        delete window;
    }

    // The window comes back where it was left, start after start (it crept
    // up one title bar each time), and a place whose title bar would be off
    // every screen is not taken back: the window is centred instead.
    void windowPlaceStaysAcrossStarts()
    {
        if (qEnvironmentVariableIsSet(kScreenVariable))
            QSKIP("run by the parent process only");
        TestHarness h;
        seams::setScreenMetrics(std::nullopt);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint place(screen.left() + 40, screen.top() + 60);
        const auto start = [] {
            MainWindow *window = showMainWindow();
            window->TimerPolling->stop();
            return std::unique_ptr<MainWindow>(window);
        };
        for (int run = 0; run < 3; ++run) {
            const std::unique_ptr<MainWindow> window = start();
            if (run == 0)
                window->setGeometry(QRect(place, window->size()));
            QCOMPARE(window->geometry().topLeft(), place);
            QVERIFY(endsProgram([&] { endSequence(window.get()); }));
            releaseSingleInstance();
        }
        for (const QPoint off : {QPoint(place.x(), screen.top()), QPoint(screen.right() - 100, place.y())}) {
            QVERIFY(app::saveSetting(kSectionMain, QStringLiteral("WindowLeft"), QString::number(off.x())));
            QVERIFY(app::saveSetting(kSectionMain, QStringLiteral("WindowTop"), QString::number(off.y())));
            const std::unique_ptr<MainWindow> window = start();
            QVERIFY(screen.contains(window->frameGeometry()));
            QVERIFY(window->geometry().topLeft() != off);
            QVERIFY(endsProgram([&] { endSequence(window.get()); }));
            releaseSingleInstance();
        }
    }

    void otherScales_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::newRow("100 %: 1024x768") << QStringLiteral("1024,768,1,1");
        QTest::newRow("125 %: 1920x1080") << QStringLiteral("1920,1080,1.25,1");
        // 1280 x 720 in the window's own pixels: the window fits.
        QTest::newRow("150 %: 1920x1080") << QStringLiteral("1920,1080,1.5,1");
        QTest::newRow("200 %: 2560x1600") << QStringLiteral("2560,1600,2,1");
        QTest::newRow("200 %: 1920x1200 is too small") << QStringLiteral("1920,1200,2,0");
        QTest::newRow("150 %: 1365x768 is too narrow") << QStringLiteral("1365,768,1.5,0");
    }
    void otherScales()
    {
        QFETCH(QString, screen);
        if (qEnvironmentVariableIsSet(kScreenVariable))
            QSKIP("run by the parent process only");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kScreenVariable), screen);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("startCheckOnThisScreen")});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitCode() == 0 && output.contains("PASS   : TestScaledDisplay::startCheckOnThisScreen()"),
                 output.constData());
    }
};

int main(int argc, char *argv[])
{
    const QStringList parts = qEnvironmentVariable(kScreenVariable).split(QLatin1Char(','));
    if (parts.size() == 4)
        g_screen = {parts[0].toInt(), parts[1].toInt(), parts[2].toDouble(), parts[3] == QLatin1String("1")};
    // The offscreen platform's screen: logical size and dpi at 96, scaled.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    file.write(QStringLiteral("{\"screens\": [{\"name\": \"scaled\", \"x\": 0, \"y\": 0, \"width\": %1, \"height\": %2, "
                              "\"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": %3}]}")
                   .arg(qRound(g_screen.width / g_screen.ratio))
                   .arg(qRound(g_screen.height / g_screen.ratio))
                   .arg(g_screen.ratio)
                   .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
    QApplication app(argc, argv);
    TestScaledDisplay test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scaleddisplay.moc"
