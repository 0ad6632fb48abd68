// The polling sequence, the card-read sequence and the connection-lost
// handling; the card state they find goes out through the reader link.

#include "reader/CardReader.h"

#include "app/Failure.h"
#include "app/Settings.h"
#include "app/Constants.h"
#include "decode/CardTable.h"
#include "decode/FrameBytes.h"


namespace {

const QString kNotConnected = QStringLiteral("未接続");
const QString kSetCard = QStringLiteral("カードをセットして下さい");

void showCardState(const QString &text) { emit reader::link().cardStateChanged(text); }
void showCount(const QString &text) { emit reader::link().recordCountChanged(text); }
void enableCardRead(bool enabled) { emit reader::link().cardReadableChanged(enabled); }

QString textAt(const QByteArray &buffer, int from, int to)
{
    QString text;
    for (int i = from; i <= to; ++i)
        text += frame::charAt(buffer, i);
    return text;
}

// The card state letter of a "CS" frame; empty unless the frame has its 16 bytes.
QString cardStateLetter(const QByteArray &buffer)
{
    return frame::ubound(buffer) == 16 ? QString(frame::charAt(buffer, 10)) : QString();
}

// Ends a card read that went wrong while the reader is still there: the
// records read so far are dropped, so that a read is stored whole or not at all.
void failRead()
{
    reader::link().readFailed = true;
    reader::link().cardTable().clear();
    showCount(app::recordCountText(0));
}

} // namespace

void reader::connectionLost(int type)
{
    app::tagged(app::Procedure::EndConnection, [&] {
        reader::link().relayMode = reader::RelayMode::Direct;
        if (type == 1 || type == 2) {
            showCardState(type == 1 ? kNotConnected : kSetCard);
            showCount(app::recordCountText(0));
            reader::link().readFailed = true;
        } else if (type == 0) {
            showCardState(kNotConnected);
        }
        enableCardRead(false);
        reader::link().cardTable().clear();
        emit reader::link().connectionLost(type);
    });
}

void reader::pollReader()
{
    // A tick that comes while another sequence talks on the line is left out.
    ReaderLink &link = reader::link();
    if (link.busy())
        return;
    const bool started = app::tagged(app::Procedure::PollReader, [] {
        const int port = app::comPortNumber();
        if (!reader::portExists(port)) {
            reader::connectionLost(0);
            return false;
        }
        reader::openPort(port);
        reader::sendEnq();
        return true;
    });
    if (!started)
        return;
    link.runSequence(app::Procedure::PollReader, 100, [receives = 0](const QByteArray &buffer) mutable -> std::optional<int> {
        ++receives;
        const int n = frame::ubound(buffer);
        if (n >= 9) {
            reader::link().noReplyCount = 0;
            const QString command = n == 12 ? textAt(buffer, 6, 10) : textAt(buffer, 8, 9);
            if (command == QLatin1String("AC")) {
                if (n == 11)
                    reader::sendEtAnswer(0);
            } else if (command == QLatin1String("CS")) {
                const QString state = cardStateLetter(buffer);
                if (state == QLatin1String("I"))
                    showCardState(QStringLiteral("カード正常"));
                else if (state == QLatin1String("O"))
                    showCardState(kSetCard);
                else if (state == QLatin1String("P"))
                    showCardState(QStringLiteral("カード認証中"));
                else if (state == QLatin1String("E"))
                    showCardState(QStringLiteral("カードエラー"));
                enableCardRead(state == QLatin1String("I"));
                return std::nullopt;
            } else if (command == QLatin1String("PRINT")) {
                reader::link().relayMode = reader::RelayMode::ThroughRelayUnit;
                emit reader::link().relayUnitFound();
                reader::sendEnq();
            }
            return receives < reader::kMaxPollingReceives ? std::optional<int>(100) : std::nullopt;
        }
        if (n >= 1)
            return receives < reader::kMaxPollingReceives ? std::optional<int>(100) : std::nullopt;
        ++reader::link().noReplyCount;
        if (reader::link().noReplyCount < 3)
            return std::nullopt;
        reader::link().noReplyCount = 0;
        reader::connectionLost(0);
        return std::nullopt;
    });
}

namespace {

// What a card read carries from one frame to the next.
struct CardRead {
    CardTableLimits limits;
    qint16 count = 0;
    qint16 lastResult = 0;
    int receivesWithoutRecord = 0;
    int skippedInARow = 0;
    int wait = 100; // of the next receive

    // Takes one frame; the wait of the next receive, or nothing at the end.
    std::optional<int> take(const QByteArray &buffer);
};

std::optional<int> CardRead::take(const QByteArray &buffer)
{
    decode::CardTable &table = reader::link().cardTable();
    const int n = frame::ubound(buffer);
    if (n >= 9) {
        wait = 50;
        reader::link().noReplyCount = 0;
        const QString command = textAt(buffer, 8, 9);
        if (command == QLatin1String("AC")) {
            if (n == 11)
                reader::sendEtAnswer(0);
        } else if (command == QLatin1String("CS")) {
            if (cardStateLetter(buffer) != QLatin1String("I")) {
                reader::connectionLost(2);
                return std::nullopt;
            }
            showCardState(QStringLiteral("カード読込中"));
            reader::requestRecords(count == 0 ? QStringLiteral("O")
                                   : table.readForward ? QStringLiteral("F")
                                                       : QStringLiteral("B"),
                                   0);
        } else if (command == QLatin1String("LD")) {
            QString answer;
            if (n == 34) {
                // A damaged record never reaches the history: the read
                // ends with an error and nothing of it is kept.
                if (!reader::frameIntact(buffer)) {
                    failRead();
                    return std::nullopt;
                }
                reader::sendAck();
                answer = frame::charAt(buffer, 10);
                receivesWithoutRecord = 0;
            }
            if (answer == QLatin1String("Y")) {
                lastResult = table.storeFrame(count, buffer, limits);
                if (lastResult == 0)
                    return std::nullopt;
                skippedInARow = lastResult == -1 ? skippedInARow + 1 : 0;
                if (skippedInARow > reader::kMaxSkippedRecordsInARow) {
                    reader::connectionLost(1);
                    return std::nullopt;
                }
                showCount(app::recordCountText(count));
            } else if (answer == QLatin1String("N")) {
                if (table.readPhase == 1 || lastResult == 0)
                    return std::nullopt;
                table.readForward = true;
                table.readPhase = 1;
            } else if (answer == QLatin1String("O")) {
                return std::nullopt;
            }
            reader::sendEnq();
        }
    } else if (n == 0) {
        ++reader::link().noReplyCount;
        if (reader::link().noReplyCount >= 3) {
            reader::connectionLost(1);
            return std::nullopt;
        }
        reader::sendEnq();
        wait = 1000;
    }
    if (++receivesWithoutRecord > reader::kMaxReceivesWithoutRecord) {
        reader::connectionLost(1);
        return std::nullopt;
    }
    return wait;
}

} // namespace

void reader::readCard(const std::optional<QDate> &startDate, std::function<void(bool whole)> ended)
{
    reader::link().whenFree([startDate, ended = std::move(ended)]() mutable { startCardRead(startDate, std::move(ended)); });
}

void reader::startCardRead(const std::optional<QDate> &startDate, std::function<void(bool whole)> ended)
{
    auto read = std::make_shared<CardRead>();
    read->limits = CardTableLimits{startDate, [](int n) { emit reader::link().readProgress(n); }};
    const bool started = app::tagged(app::Procedure::ReadCardRecords, [] {
        decode::CardTable &table = reader::link().cardTable();
        table.readForward = false;
        table.wrapCheck = false;
        reader::link().readFailed = false;
        table.repeatsInPhase1 = 0;
        table.clear();
        const int port = app::comPortNumber();
        if (!reader::portExists(port)) {
            reader::connectionLost(1);
            return false;
        }
        reader::openPort(port);
        reader::sendEnq();
        return true;
    });
    if (!started) {
        if (ended)
            ended(!reader::link().readFailed);
        return;
    }
    reader::link().runSequence(
        app::Procedure::ReadCardRecords, 100, [read](const QByteArray &buffer) { return read->take(buffer); },
        [ended = std::move(ended)] {
            if (ended)
                ended(!reader::link().readFailed);
        });
}
