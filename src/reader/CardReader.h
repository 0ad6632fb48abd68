#pragma once
// The card-reader link: the port, the reader's frames and checksum, the
// polling and card-read sequences and the connection-lost handling. What the
// sequences find out goes to the signals of reader::link().

#include "decode/CardTable.h"
#include "reader/ReaderLink.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QSerialPort;

namespace reader {

// ---- port ------------------------------------------------------------------
// The port object of the reader link.
QSerialPort *serialPort();

void openPort(int port);
void closePort(int port);
bool portExists(int port);
// Sends bytes 1..n of a 1-based frame, inside a "COM1:" envelope in relay
// mode; a frame that carries its own envelope (the desktop printer's) goes
// out as built.
enum class Envelope { AsRelayModeSays, AsBuilt };
void sendBytes(const QByteArray &bytes, Envelope envelope = Envelope::AsRelayModeSays);

// A receive never keeps more bytes than this: a frame is at most 519 bytes
// long, so a longer run can only be a device that never stops talking.
constexpr int kMaxReceiveBytes = 1024;

// ---- frames ----------------------------------------------------------------
int checksum(const QByteArray &bytes);
void sendEnq();
void sendAck();
// command: the two letters at positions 1 and 2; data: 1-based bytes.
void sendTextFrame(const QByteArray &command, const QByteArray &data, int kind, int retry);
void sendEtAnswer(int retry);
void requestRecords(const QString &letter, int retry);

// The text frame that reader::sendTextFrame sends (toggles reader::link().sendToggle).
QByteArray buildTextFrame(const QByteArray &command, const QByteArray &data, int kind, int retry);
// The relay envelope around bytes 1..n of payload for a target side
// ("COM1:" the reader, "COM2:" the desktop printer); 1-based.
QByteArray relayEnvelope(const QByteArray &target, const QByteArray &payload);

// ---- sequences -------------------------------------------------------------
// One polling sequence, unless another sequence talks on the line: the card
// state goes out through the link's signals.
void pollReader();
// Reads the card into reader::link().cardTable(), stopping at startDate (the
// range condition's date limit); progress is reported through readProgress.
// ended gets false when the read broke off (nothing of it is kept). Runs
// once the line is free; returns at once.
void readCard(const std::optional<QDate> &startDate, std::function<void(bool whole)> ended);
// The same on a line known to be free.
void startCardRead(const std::optional<QDate> &startDate, std::function<void(bool whole)> ended);
void connectionLost(int type);

// Receives in one polling sequence before it gives the tick up, and receives
// in a card read without a record frame before the read gives up: a device
// that keeps sending something else cannot hold the program in a sequence.
constexpr int kMaxPollingReceives = 16;
constexpr int kMaxReceivesWithoutRecord = 10;
// Records in a row that the card table skips as repeats before a read gives
// up: a card holds about a hundred records, so a reader that answers with the
// same record again and again cannot keep the read going for ever.
constexpr int kMaxSkippedRecordsInARow = 128;

// Whether a received frame ends in ETX and its checksum: a frame that does
// not is damaged and is never acknowledged or decoded.
bool frameIntact(const QByteArray &buffer);

} // namespace reader
