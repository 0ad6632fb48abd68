#pragma once
// Shared pieces of the reader tests: the port number 1 mapped to the
// emulator's device, and reader-side frames as the emulator's hex text.

#include "app/RunSettings.h"
#include "../../tools/reader-emulator/EmulatorProcess.h"
#include "app/Constants.h"
#include "decode/FrameBytes.h"
#include "reader/PortDevice.h"
#include "reader/CardReader.h"
#include "reader/FrameReceiver.h"
#include "reader/ReaderSearch.h"
#include "../support/LineWait.h"

#include <QStringList>

inline void useEmulatorAsPort1(const EmulatorProcess &emulator)
{
    const QString link = emulator.link();
    app::runSettings().comPort = QStringLiteral("1");
    seams::setPortDeviceHandler([link](int port) {
        return port == 1 ? link : QStringLiteral("/nonexistent/ttyPASSLOG%1").arg(port);
    });
}

// Hex text of bytes 1..n of a frame, as the emulator logs it ("05 30 31 03 64").
inline QString hexOf(const QByteArray &frame1Based)
{
    return QString::fromLatin1(frame::raw(frame1Based).toHex(' ').toUpper());
}

// A reader frame: STX "1" "0", control and sequence 0, length, command, data, ETX, checksum.
inline QByteArray readerFrame(const QByteArray &command, const QByteArray &data)
{
    QByteArray f = frame::of({0x02, 0x31, 0x30, 0x00, 0x00, 0x00, int(command.size() + data.size())});
    f += command + data;
    f.append(char(0x03));
    f.append('\0');
    f[f.size() - 1] = char(reader::checksum(f));
    return f;
}

inline QByteArray cardStateFrame(char letter, int extra = 4)
{
    return readerFrame("CS", QByteArray(1, letter) + QByteArray(extra, '\0'));
}

inline QByteArray recordAnswerFrame(char answer)
{
    return readerFrame("LD", QByteArray(1, answer) + QByteArray(22, '\0'));
}

// The sequences run on the event loop: these start one and wait for its end.
inline void pollNow()
{
    reader::pollReader();
    waitForLine();
}

// A card read; false when it broke off.
inline bool readCardNow(const std::optional<QDate> &startDate = std::nullopt)
{
    std::optional<bool> whole;
    reader::readCard(startDate, [&whole](bool w) { whole = w; });
    waitUntil([&whole] { return whole.has_value(); });
    return whole.value_or(false);
}

// One receive on the link's port, as a sequence makes it.
inline void receiveNow(int waitMs, QByteArray &buffer)
{
    reader::FrameReceiver receiver(reader::serialPort());
    bool ended = false;
    QObject::connect(&receiver, &reader::FrameReceiver::received, [&](const QByteArray &b) {
        buffer = b;
        ended = true;
    });
    receiver.start(waitMs);
    waitUntil([&ended] { return ended; });
}

// The reader search, from currentPort.
inline reader::ReaderSearchResult searchNow(int currentPort)
{
    std::optional<reader::ReaderSearchResult> result;
    reader::searchReader(currentPort, [&result](const reader::ReaderSearchResult &r) { result = r; });
    waitUntil([&result] { return result.has_value(); });
    return result.value_or(reader::ReaderSearchResult{});
}
