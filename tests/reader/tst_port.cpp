// Frame recognition, the reader's frames byte for byte, and the port
// operations over a pseudo-terminal with the reader emulator.

#include "app/RunSettings.h"
#include "ReaderTest.h"
#include "reader/ReaderLink.h"
#include "TestHarness.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "reader/FrameRecognizer.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTest>

namespace {
// Feeds bytes; returns the 1-based position of the byte that completed a frame, or 0.
int completesAt(const QByteArray &raw, reader::FrameRecognizer *out = nullptr)
{
    reader::FrameRecognizer r;
    for (int i = 0; i < raw.size(); ++i) {
        if (r.feed(quint8(raw[i]))) {
            if (out)
                *out = r;
            return i + 1;
        }
    }
    if (out)
        *out = r;
    return 0;
}
QByteArray bytes(std::initializer_list<int> b) { return frame::raw(frame::of(b)); }
// Appends the checksum of bytes 2..n.
QByteArray withSum(QByteArray raw)
{
    quint32 sum = 0;
    for (int i = 1; i < raw.size(); ++i)
        sum += quint8(raw[i]);
    raw.append(char(sum & 0xFF));
    return raw;
}
} // namespace

class tst_port : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHarness> harness;
    std::unique_ptr<EmulatorProcess> emulator;

private slots:
    void init()
    {
        harness = std::make_unique<TestHarness>();
        emulator = std::make_unique<EmulatorProcess>(QStringList{QStringLiteral("--state"), QStringLiteral("readable")});
        QVERIFY(emulator->started());
        useEmulatorAsPort1(*emulator);
        reader::link().relayMode = reader::RelayMode::Direct;
        reader::link().sendToggle = 128;
    }
    void cleanup()
    {
        reader::closePort(1);
        emulator.reset();
        seams::setPortDeviceHandler({});
        harness.reset();
    }

    // ---- recognition, no port ------------------------------------------------
    void repliesEndAfterTheirLastByte()
    {
        QCOMPARE(completesAt(bytes({0x06, 0x31, 0x30, 0x03, 0x64, 0x41})), 5);
        QCOMPARE(completesAt(bytes({0x06, 0x31, 0x32, 0x03, 0x66})), 5);
        QCOMPARE(completesAt(bytes({0x15, 0x31, 0x32, 0x01, 0x03, 0x67, 0x41})), 6);
        QCOMPARE(completesAt(bytes({0x06, 0x31, 0x30, 0x03, 0x65})), 0); // wrong checksum
        QCOMPARE(completesAt(bytes({0x06, 0x30, 0x31, 0x03, 0x64})), 0); // a sent frame's address
    }

    void textFramesEndAtTheirLength()
    {
        const QByteArray cs = frame::raw(cardStateFrame('I'));
        QCOMPARE(completesAt(cs + "xyz"), 16);
        QByteArray bad = cs;
        bad[15] = char(bad[15] + 1);
        reader::FrameRecognizer r;
        // A bad frame is read on; a good one behind it no longer fits the length of the call.
        QCOMPARE(completesAt(bad + cs, &r), 0);
        QCOMPARE(r.count(), 32);
        QVERIFY(r.stxFrame());
        // "PRINT": the short form, 12 bytes.
        QCOMPARE(completesAt(withSum(bytes({0x02, 0x31, 0x30, 0x00, 0x05, 'P', 'R', 'I', 'N', 'T', 0x03}))), 12);
        // Position 6 counts too: (byte 6) + (byte 7) + 9.
        QCOMPARE(completesAt(withSum(bytes({0x02, 0x31, 0x30, 0x00, 0x00, 0x01, 0x02, 'A', 'B', 'C', 0x03}))), 12);
    }

    void etxInsideDataDoesNotEndAFrame()
    {
        const QByteArray ld = frame::raw(readerFrame("LD", QByteArray("Y\x03\x03", 3) + QByteArray(20, '\x03')));
        QCOMPARE(ld.size(), 34);
        QCOMPARE(completesAt(ld), 34);
    }

    void stxMarkInTheMiddleOfDataMarksTheCall()
    {
        reader::FrameRecognizer r;
        QCOMPARE(completesAt(bytes({0x41, 0x42, 0x02, 0x31, 0x30, 0x43}), &r), 0);
        QVERIFY(r.stxFrame());
        QVERIFY(!r.ackFrame());
        // The buffer is taken as a text frame from then on, its length read from positions 6 and 7.
        QCOMPARE(completesAt(withSum(bytes({0x41, 0x42, 0x02, 0x31, 0x30, 0x00, 0x03, 0x43, 0x44, 0x45, 0x03}))), 12);
        // NAK wins over ACK: once both flags are set only a 6-byte count ends the call.
        QCOMPARE(completesAt(bytes({0x15, 0x31, 0x30, 0x06, 0x31, 0x30, 0x03, 0x64})), 0);
    }

    // ---- frames ------------------------------------------------------------------
    void retryRepeatsTheSequenceByte()
    {
        reader::link().sendToggle = 128;
        const QByteArray data = frame::of({'N', 'M', 1, 0x32});
        const QByteArray first = reader::buildTextFrame(frame::of({'E', 'T'}), data, 1, 0);
        const QByteArray retry = reader::buildTextFrame(frame::of({'E', 'T'}), data, 1, 1);
        QCOMPARE(frame::at(retry, 4), quint8(0x81));
        QCOMPARE(frame::at(retry, 5), frame::at(first, 5));
        QCOMPARE(reader::buildTextFrame(frame::of({'E', 'T'}), data, 1, 0), // the toggle goes on
                 QByteArray(first).replace(5, 1, "\x80").replace(15, 1, "\xD1"));
    }

    void framesOnTheLine()
    {
        reader::openPort(1);
        reader::sendEnq();
        QCOMPARE(emulator->nextLine("rx "), QStringLiteral("rx 05 30 31 03 64"));
        reader::sendAck();
        QCOMPARE(emulator->nextLine("rx "), QStringLiteral("rx 06 30 31 03 64"));
        reader::sendEtAnswer(0);
        QCOMPARE(emulator->nextLine("rx "), QStringLiteral("rx 02 30 31 80 00 00 06 45 54 4E 4D 01 32 03 51"));
        reader::requestRecords(QStringLiteral("O"), 0);
        QCOMPARE(emulator->nextLine("rx "), QStringLiteral("rx 02 30 31 00 80 00 03 4C 52 4F 03 D4"));
        reader::sendEtAnswer(0);
        QCOMPARE(emulator->nextLine("rx "), QStringLiteral("rx 02 30 31 80 00 00 06 45 54 4E 4D 01 32 03 51"));

        reader::link().relayMode = reader::RelayMode::ThroughRelayUnit;
        reader::sendEnq();
        QCOMPARE(emulator->nextLine("rx "), QStringLiteral("rx 02 43 4F 4D 31 3A 00 05 05 30 31 03 64 03 1F"));
        reader::requestRecords(QStringLiteral("B"), 0);
        const QString envelope = emulator->nextLine("rx ").mid(3);
        const QByteArray raw = QByteArray::fromHex(envelope.toLatin1());
        QCOMPARE(raw.size(), 22);
        QCOMPARE(quint8(raw[7]), quint8(0x0C));
        QCOMPARE(raw.mid(8, 3), QByteArray("\x02\x30\x31"));
        QCOMPARE(raw.mid(15, 3), QByteArray("LRB"));
    }

    void outputOnAClosedPortDoesNothing()
    {
        reader::closePort(1);
        reader::sendEnq();
        QVERIFY(emulator->nextLine("rx ", 300).isNull());
    }

    // ---- receive -------------------------------------------------------------------
    void silentLineEndsAfterWaitAndThreeEndPolls()
    {
        reader::openPort(1);
        QByteArray buffer = frame::of({1, 2, 3});
        QElapsedTimer t;
        t.start();
        receiveNow(100, buffer);
        const qint64 ms = t.elapsed();
        QCOMPARE(frame::ubound(buffer), 0);
        QVERIFY2(ms >= 245 && ms < 600, qPrintable(QString::number(ms)));
    }

    void receiveEndsAtTheFrameAndLeavesTheRest()
    {
        reader::openPort(1);
        QVERIFY(emulator->command("send 06 31 30 03 64 15 31 32 01 03 67 41"));
        QByteArray buffer;
        QElapsedTimer t;
        t.start();
        receiveNow(1000, buffer);
        QCOMPARE(hexOf(buffer), QStringLiteral("06 31 30 03 64"));
        QVERIFY2(t.elapsed() < 500, "a complete frame does not wait out the full wait");
        receiveNow(100, buffer);
        QCOMPARE(hexOf(buffer), QStringLiteral("15 31 32 01 03 67"));
        receiveNow(100, buffer);
        QCOMPARE(hexOf(buffer), QStringLiteral("41"));
    }

    void wrongChecksumIsReadOnToSilence()
    {
        reader::openPort(1);
        QByteArray cs = cardStateFrame('I');
        cs[16] = char(cs[16] ^ 0x55);
        QVERIFY(emulator->command(QStringLiteral("send ") + hexOf(cs) + QStringLiteral(" 41 42")));
        QByteArray buffer;
        receiveNow(100, buffer);
        QCOMPARE(frame::ubound(buffer), 18);
        QCOMPARE(hexOf(buffer), hexOf(cs) + QStringLiteral(" 41 42"));
    }

    void endlessTalkIsCutIntoBoundedReceives()
    {
        reader::openPort(1);
        QVERIFY(emulator->command(QStringLiteral("send ") + QString(QStringLiteral("41 ")).repeated(1500).trimmed()));
        QByteArray buffer;
        receiveNow(100, buffer);
        QCOMPARE(frame::ubound(buffer), reader::kMaxReceiveBytes);
        receiveNow(100, buffer);
        QCOMPARE(frame::ubound(buffer), 1500 - reader::kMaxReceiveBytes);
    }

    // ---- open, close, probe --------------------------------------------------------
    void probe()
    {
        QSerialPort *port = reader::serialPort();
        QVERIFY(reader::portExists(1));
        QVERIFY(!port->isOpen());
        QVERIFY(!reader::portExists(2)); // no such device
        QVERIFY(!reader::portExists(0));
        QVERIFY(!port->isOpen());

        reader::openPort(1);
        QVERIFY(port->isOpen());
        QVERIFY(reader::portExists(1)); // closes this program's port first
        QVERIFY(!port->isOpen());
    }

    void probeOfAPortHeldElsewhereIsFalse()
    {
        QSerialPort other;
        other.setPortName(emulator->link());
        QVERIFY(other.open(QIODevice::ReadWrite));
        QVERIFY(!reader::portExists(1));
        QVERIFY(!reader::serialPort()->isOpen());
        other.close();
        QVERIFY(reader::portExists(1));
    }

    void openWhileOpenKeepsThePort()
    {
        reader::openPort(1);
        const QString name = reader::serialPort()->portName();
        reader::openPort(2);
        QCOMPARE(reader::serialPort()->portName(), name);
        QVERIFY(reader::serialPort()->isOpen());
    }

    void openingAMissingPortIsReported()
    {
        QVERIFY(endsProgram([] { reader::openPort(3); }));
        QCOMPARE(harness->messages().size(), 1);
        QVERIFY(harness->messages()[0].text.endsWith(QStringLiteral(": basRS232C_CommPortOpen)")));
    }

    void portNumberToDevice()
    {
        seams::setPortDeviceHandler({});
        QCOMPARE(seams::portDevice(0), QString());
#ifndef Q_OS_WIN
        app::runSettings().programFolder = harness->programFolder() + QLatin1Char('/');
        QCOMPARE(seams::portDevice(1), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(seams::portDevice(16), QStringLiteral("/dev/ttyS15"));
        app::writeProfileString(QStringLiteral("RS232C"), QStringLiteral("Device3"), QStringLiteral("/dev/ttyUSB0"),
                                app::settingsFileName());
        QCOMPARE(seams::portDevice(3), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(seams::portDevice(4), QStringLiteral("/dev/ttyS3"));
        // The settings file deleted during the run: the reader stays where it was.
        QVERIFY(QFile::remove(app::settingsFileName()));
        QCOMPARE(seams::portDevice(3), QStringLiteral("/dev/ttyUSB0"));
#else
        QCOMPARE(seams::portDevice(3), QStringLiteral("COM3"));
#endif
    }
};

QTEST_MAIN(tst_port)
#include "tst_port.moc"
