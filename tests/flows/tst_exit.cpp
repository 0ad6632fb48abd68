// Leaving the program by each of its three ways runs the end sequence: the
// polling stops, the reader port and both database files are closed.

#include "FlowFixture.h"
#include "reader/CardReader.h"

#include <QSerialPort>

using namespace ui;
using namespace start;

class tst_exit : public QObject {
    Q_OBJECT

private slots:
    void everyWayOutRunsTheEndSequence_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("終了 button") << QStringLiteral("button");
        QTest::newRow("終了 menu item") << QStringLiteral("menu");
        QTest::newRow("window closed") << QStringLiteral("close");
    }
    void everyWayOutRunsTheEndSequence()
    {
        QFETCH(QString, way);
        Flow f;
        FLOW_START(f);
        QVERIFY(QTest::qWaitFor([&] { return f.w->lblCardValue->text() == QStringLiteral("カード正常"); }, 3000));
        QVERIFY(reader::serialPort()->isOpen());
        QVERIFY(history::isOpen(DbConnection::History) && history::isOpen(DbConnection::Master));

        const bool ended = endsProgram([&] {
            if (way == QLatin1String("button"))
                QTest::mouseClick(f.w->btnExit, Qt::LeftButton);
            else if (way == QLatin1String("menu"))
                f.w->mnuExit->trigger();
            else
                f.w->close();
        });
        QVERIFY(ended);
        QVERIFY(!f.w->TimerPolling->isActive());
        QVERIFY(!reader::serialPort()->isOpen());
        QVERIFY(!history::isOpen(DbConnection::History));
        QVERIFY(!history::isOpen(DbConnection::Master));
    }
};

QTEST_MAIN(tst_exit)
#include "tst_exit.moc"
