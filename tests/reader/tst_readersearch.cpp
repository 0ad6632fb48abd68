// The reader search over port numbers 1..16 with reader emulators on real
// pseudo-terminals, and the mapping of port numbers to the devices present.

#include "app/RunSettings.h"
#include "ReaderTest.h"
#include "reader/ReaderLink.h"
#include "TestHarness.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "reader/ReaderSearch.h"

#include <QFile>
#include <QMap>
#include <QSerialPort>
#include <QTest>

namespace {
// Port numbers mapped to emulators; every other number names a missing device.
void mapPorts(const QMap<int, QString> &links)
{
    seams::setPortDeviceHandler([links](int port) {
        return links.value(port, QStringLiteral("/nonexistent/ttyPASSLOG%1").arg(port));
    });
}
} // namespace

class tst_readersearch : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHarness> harness;

private slots:
    void init()
    {
        harness = std::make_unique<TestHarness>();
        reader::link().relayMode = reader::RelayMode::Direct;
    }
    void cleanup()
    {
        reader::closePort(0);
        seams::setPortDeviceHandler({});
        seams::setSerialDeviceLister({});
        harness.reset();
        app::runSettings().programFolder.clear();
    }

    void twoReadersStopTheSearchAtTheSecond()
    {
        EmulatorProcess com3({"--state", "readable"});
        EmulatorProcess com5({"--state", "none", "--relay"}); // a relay unit answers "PRINT"
        EmulatorProcess com9({"--state", "readable"});
        QVERIFY(com3.started() && com5.started() && com9.started());
        mapPorts({{3, com3.link()}, {5, com5.link()}, {9, com9.link()}});
        const reader::ReaderSearchResult r = searchNow(1);
        QCOMPARE(r.found, (QList<int>{3, 5}));
        QVERIFY(r.tooMany());
        QCOMPARE(r.proposed, 3);
        QVERIFY(com9.takeLines("rx ").isEmpty()); // never asked
        QVERIFY(!com3.takeLines("rx 05 30 31 03 64").isEmpty());
        // The port last opened stays open until the next probe.
        QVERIFY(reader::serialPort()->isOpen());
    }

    void oneReaderIsProposed()
    {
        EmulatorProcess com7({"--state", "readable"});
        QVERIFY(com7.started());
        mapPorts({{7, com7.link()}});
        const reader::ReaderSearchResult r = searchNow(2);
        QCOMPARE(r.found, QList<int>{7});
        QVERIFY(!r.tooMany() && !r.none());
        QCOMPARE(r.proposed, 7);
    }

    void silentOrStrangeDevicesAreNotReaders()
    {
        EmulatorProcess silent({"--fault", "silence"});
        EmulatorProcess garbage({"--fault", "garbage", "--seed", "3"});
        EmulatorProcess busy({"--state", "readable"});
        QVERIFY(silent.started() && garbage.started() && busy.started());
        // Another program holds port 4.
        QSerialPort other(busy.link());
        QVERIFY(other.open(QIODevice::ReadWrite));
        mapPorts({{2, silent.link()}, {3, garbage.link()}, {4, busy.link()}});
        const reader::ReaderSearchResult r = searchNow(6);
        QVERIFY(r.none());
        QCOMPARE(r.proposed, 6);
        QVERIFY(!silent.takeLines("rx ").isEmpty()); // asked, did not answer
    }

#ifndef Q_OS_WIN
    // Numbers without a Device key share out the devices present that no key
    // names; a number whose /dev/ttyS device is present keeps it.
    void portNumbersReachAdaptersPresent()
    {
        seams::setPortDeviceHandler({});
        app::runSettings().programFolder = harness->programFolder() + QLatin1Char('/');
        QFile ini(app::settingsFileName());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[RS232C]\r\nComPort=1\r\nDevice3=/dev/ttyUSB1\r\n");
        ini.close();
        seams::setSerialDeviceLister(
            [] { return QStringList{"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyUSB0", "/dev/ttyUSB1"}; });
        QCOMPARE(seams::portDevice(1), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(seams::portDevice(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(seams::portDevice(3), QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(seams::portDevice(4), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(seams::portDevice(5), QStringLiteral("/dev/ttyS4"));
        QCOMPARE(seams::portDevice(0), QString());

        // A key fixes the number to its device whatever else is plugged in.
        app::writeProfileString(kSectionPort, "Device4", "/dev/ttyUSB0", app::settingsFileName());
        seams::setSerialDeviceLister([] { return QStringList{"/dev/ttyUSB0", "/dev/ttyUSB2"}; });
        QCOMPARE(seams::portDevice(1), QStringLiteral("/dev/ttyUSB2"));
        QCOMPARE(seams::portDevice(4), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(seams::portDevice(2), QStringLiteral("/dev/ttyS1"));
    }

    void searchFindsAReaderOnAnAdapter()
    {
        EmulatorProcess adapter({"--state", "readable"});
        QVERIFY(adapter.started());
        seams::setPortDeviceHandler({});
        app::runSettings().programFolder = harness->programFolder() + QLatin1Char('/');
        QFile ini(app::settingsFileName());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[RS232C]\r\nComPort=1\r\nDevice1=/nonexistent/ttyPASSLOG1\r\n");
        ini.close();
        const QString link = adapter.link();
        seams::setSerialDeviceLister([link] { return QStringList{link}; });
        const reader::ReaderSearchResult r = searchNow(1);
        QCOMPARE(r.found, QList<int>{2});
        QCOMPARE(seams::portDevice(2), link);
    }
#endif
};

QTEST_GUILESS_MAIN(tst_readersearch)
#include "tst_readersearch.moc"
