// Card read over a real line: reads a card of 100 records (a wrapped ring)
// from the reader emulator paced at 19,200 baud and compares the time the
// read takes with the pure line time of every byte exchanged.

#include "app/RunSettings.h"
#include "BenchSupport.h"
#include "../tools/reader-emulator/EmulatorProcess.h"
#include "../tests/support/LineWait.h"
#include "app/Constants.h"
#include "decode/CardTable.h"
#include "reader/ReaderLink.h"
#include "reader/PortDevice.h"
#include "reader/CardReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>

namespace {
constexpr int kRecords = 100;
constexpr int kWrap = 37;
constexpr int kBaud = 19200;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    EmulatorProcess emulator({QStringLiteral("--state"), QStringLiteral("readable"), QStringLiteral("--baud"),
                              QString::number(kBaud)});
    if (!emulator.started()) {
        std::fprintf(stderr, "bench_card_read: the reader emulator did not start\n");
        return 2;
    }
    const QString card = emulator.writeFile(QStringLiteral("card.txt"), cardimage::synthetic(kRecords, kWrap));
    if (!emulator.command(QStringLiteral("card ") + card))
        return 2;
    const QString link = emulator.link();
    app::runSettings().comPort = QStringLiteral("1");
    seams::setPortDeviceHandler([link](int) { return link; });

    reader::pollReader(); // the reader answers and knows the program, as before a real read
    waitForLine();
    emulator.forgetLines();

    QElapsedTimer timer;
    timer.start();
    bool ended = false;
    reader::readCard(std::nullopt, [&ended](bool) { ended = true; });
    waitUntil([&ended] { return ended; });
    const double readTime = double(timer.nsecsElapsed()) / 1e9;
    reader::closePort(1);
    QThread::msleep(100);

    bool right = !reader::link().readFailed && reader::link().cardTable().records.size() == kRecords + 1;
    for (int i = 0; right && i < kRecords; ++i)
        right = reader::link().cardTable().records[i + 1] == cardimage::syntheticRecord(i);

    const qint64 sent = bytesIn(emulator.takeLines(QStringLiteral("rx ")));
    const qint64 received = bytesIn(emulator.takeLines(QStringLiteral("tx ")));
    const double lineTime = double(sent + received) * 10.0 / kBaud;

    std::printf("records: %d\n", int(reader::link().cardTable().records.size() - 1));
    std::printf("bytes_sent: %lld\n", static_cast<long long>(sent));
    std::printf("bytes_received: %lld\n", static_cast<long long>(received));
    std::printf("read_time: %.3f\n", readTime);
    std::printf("line_time: %.3f\n", lineTime);
    std::printf("ratio: %.3f\n", lineTime > 0 ? readTime / lineTime : 0.0);
    if (!right) {
        std::fprintf(stderr, "bench_card_read: the card was not read exactly (error %d, %d records)\n",
                     int(reader::link().readFailed), int(reader::link().cardTable().records.size() - 1));
        return 1;
    }
    return 0;
}
