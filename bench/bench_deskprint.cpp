// Desktop printing over a real line: prints 100 history records one by one on
// the desktop printer behind the reader emulator's relay unit, paced at
// 19,200 baud, each marked printed as the printer confirms it, and compares
// the time the run takes with the pure line time of every byte exchanged.

#include "app/RunSettings.h"
#include "BenchSupport.h"
#include "../tools/reader-emulator/EmulatorProcess.h"
#include "../tests/support/LineWait.h"
#include "app/Constants.h"
#include "deskprint/DesktopPrint.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "reader/PortDevice.h"
#include "reader/CardReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <cstdio>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {
constexpr int kRecords = 100;
constexpr int kBaud = 19200;

// History of one card: kRecords synthetic records with coded and display columns.
void seedHistory()
{
    QSqlDatabase db = history::database(DbConnection::History);
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO ETC_DATA (JID_IN,ITC_IN,JID_OUT,ITC_OUT,PASS_DATE,PASS_TIME,DATE_TIME,"
                             "CAR_CODE,PASS_MONEY,CARD_ID,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) "
                             "VALUES (?,?,?,?,?,?,?,?,?,'0012','0012',?,?,?,'普通車',?,?)"));
    for (int i = 0; i < kRecords; ++i) {
        const CardRecord r = cardimage::syntheticRecord(i);
        for (const QVariant &v :
             {QVariant(r.JID_IN), QVariant(r.ITC_IN), QVariant(r.JID_OUT), QVariant(r.ITC_OUT), QVariant(r.PASS_DATE),
              QVariant(r.PASS_TIME), QVariant(r.PASS_DATE + QLatin1Char('-') + r.PASS_TIME), QVariant(r.CAR_CODE),
              QVariant(r.PASS_MONEY), QVariant(r.PASS_DATE), QVariant(r.PASS_TIME),
              QVariant(QStringLiteral("%1円").arg(r.PASS_MONEY)), QVariant(QStringLiteral("入口 %1").arg(r.ITC_IN)),
              QVariant(QStringLiteral("出口 %1").arg(r.ITC_OUT))})
            q.addBindValue(v);
        q.exec();
    }
    db.commit();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    app::runSettings().programFolder = folder.path() + QLatin1Char('/');
    history::openDatabase(kDatFile);
    seedHistory();
    testView = {};
    testView.viewType = 2;
    testView.cardNo = kNoCardNo;
    app::runSettings().viewSort = QStringLiteral("NEW");

    EmulatorProcess emulator({QStringLiteral("--relay"), QStringLiteral("--printer"), QStringLiteral("ack"),
                              QStringLiteral("--baud"), QString::number(kBaud)});
    if (!emulator.started()) {
        std::fprintf(stderr, "bench_deskprint: the reader emulator did not start\n");
        return 2;
    }
    const QString link = emulator.link();
    app::runSettings().comPort = QStringLiteral("1");
    seams::setPortDeviceHandler([link](int) { return link; });

    reader::pollReader(); // finds the relay unit, as the main window's polling does
    waitForLine();
    const bool relayFound = reader::link().relayMode == reader::RelayMode::ThroughRelayUnit;
    reader::link().relayMode = reader::RelayMode::Direct;              // as the print window leaves it
    const QList<deskprint::DesktopPrintRow> rows = deskprint::listRows(deskprint::listStatement(testView, kTableData, 0));
    emulator.forgetLines();

    QElapsedTimer timer;
    timer.start();
    int refused = 0;
    for (const deskprint::DesktopPrintRow &row : rows) {
        bool ended = false;
        deskprint::sendToPrinter(kTableData, row, [&](const deskprint::PrinterReply &reply) {
            refused += reply.status != 0;
            ended = true;
        });
        waitUntil([&ended] { return ended; });
    }
    const double printTime = double(timer.nsecsElapsed()) / 1e9;
    reader::closePort(1);
    QThread::msleep(100);

    const int printedLines = int(emulator.takeLines(QStringLiteral("print ")).size());
    const qint64 sent = bytesIn(emulator.takeLines(QStringLiteral("rx ")));
    const qint64 received = bytesIn(emulator.takeLines(QStringLiteral("tx ")));
    const double lineTime = double(sent + received) * 10.0 / kBaud;
    QSqlQuery marked = history::execute(DbConnection::History,
                                        QStringLiteral("SELECT count(*) FROM ETC_DATA WHERE PRINT_FLAG=True;"));
    const int marks = marked.next() ? marked.value(0).toInt() : -1;
    marked.finish();
    history::closeDatabase(kDatFile);

    std::printf("records: %d\n", int(rows.size()));
    std::printf("printed_lines: %d\n", printedLines);
    std::printf("marked: %d\n", marks);
    std::printf("bytes_sent: %lld\n", static_cast<long long>(sent));
    std::printf("bytes_received: %lld\n", static_cast<long long>(received));
    std::printf("print_time: %.3f\n", printTime);
    std::printf("line_time: %.3f\n", lineTime);
    std::printf("ratio: %.3f\n", lineTime > 0 ? printTime / lineTime : 0.0);
    if (!relayFound || rows.size() != kRecords || printedLines != kRecords || marks != kRecords || refused != 0 ||
        sent != qint64(kRecords) * 53) {
        std::fprintf(stderr, "bench_deskprint: not every record was printed and marked exactly once\n");
        return 1;
    }
    return 0;
}
