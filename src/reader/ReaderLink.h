#pragma once
// The program's link to the card reader: the one serial port that the
// polling, the card read, the reader search and the desktop printer share
// (never two of them at a time), and the signals through which the sequences
// tell whoever shows the reader's state. The link knows no window: the main
// window listens to these signals and shows them in its labels.

#include "app/Failure.h"
#include "app/Procedures.h"
#include "decode/CardTable.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QSerialPort;

namespace reader {

class FrameReceiver;

// How frames reach the reader: as they are, or inside the relay unit's
// "COM1:" envelope once a relay unit answered.
enum class RelayMode { Direct = 0, ThroughRelayUnit = 2 };

class ReaderLink : public QObject {
    Q_OBJECT
public:
    explicit ReaderLink(QObject *parent = nullptr);
    ~ReaderLink() override;

    QSerialPort *port() const { return m_port; }
    // The records of the last card read (kept until the next read or a lost link).
    decode::CardTable &cardTable() { return m_cardTable; }

    // ---- sequences ---------------------------------------------------------
    // One sequence talks on the line at a time. A step gets each frame the
    // line brought (empty when the reader stayed silent) and returns how long
    // the next receive waits, or nothing when the sequence is over; then
    // ended runs. A failure inside a step goes to the error report under
    // procedure and ends the sequence.
    using Step = std::function<std::optional<int>(const QByteArray &frame)>;
    bool busy() const { return m_step != nullptr; }
    void runSequence(app::Procedure procedure, int firstWait, Step step, std::function<void()> ended = {});
    // Runs start now when the line is free, else once the sequence on it
    // ended (a later request replaces one not started yet).
    void whenFree(std::function<void()> start);
    // Drops the sequence on the line and any waiting one, without their ends
    // (the program ends, or a test starts afresh).
    void dropSequences();
    // The last card read broke off (a damaged record, the card or the
    // reader gone): nothing of it is kept.
    bool readFailed = false;
    RelayMode relayMode = RelayMode::Direct;
    int noReplyCount = 0; // polls in a row without a reply
    int sendToggle = 128; // sequence toggle of the text frames, 128 or 0
    // The device the configured port means for this run (the demo's
    // emulator); empty: the usual device of the port number.
    QString portDeviceForThisRun;
    // The devices the settings file named per port number when it was last
    // read: kept while the file is away, so that the reader stays where it is.
    QMap<int, QString> configuredPortDevices;
    // The line as a new start finds it: direct, no reply missed, the toggle
    // at its first value.
    void resetLine()
    {
        relayMode = RelayMode::Direct;
        noReplyCount = 0;
        sendToggle = 128;
        readFailed = false;
        dropSequences();
        portDeviceForThisRun.clear();
        configuredPortDevices.clear();
    }

signals:
    // The card state in words: "カード正常", "カードをセットして下さい", "未接続", ...
    void cardStateChanged(const QString &text);
    // The record count of a running card read ("5件"), or "0件" when it broke off.
    void recordCountChanged(const QString &text);
    // Whether a card read may start now (only with a readable card).
    void cardReadableChanged(bool readable);
    // Records stored so far by a card read, up to 100.
    void readProgress(int count);
    // The link to the reader ended (type as reader::connectionLost takes it).
    void connectionLost(int type);
    // A relay unit answered: frames go inside its envelope from now on.
    void relayUnitFound();
    // A sequence ended and the line is free.
    void sequenceEnded();
    // A part of a sequence failed (a step, its end, a start that waited for
    // the line). A failure the user can act on ends the sequence as any end
    // does; any other (named after the procedure it came from) drops every
    // sequence, and nothing more is told.
    void sequenceFailed(const Failure &failure);

private:
    void takeFrame(const QByteArray &frame);
    // Runs a part of a sequence on the event loop, where no command's
    // handler is (a step, its end, the start of one that waited for the
    // line): a failure goes to sequenceFailed. False after one the user
    // cannot act on, which dropped every sequence.
    bool handOn(const std::function<void()> &part);

    QSerialPort *m_port;
    FrameReceiver *m_receiver;
    decode::CardTable m_cardTable;
    app::Procedure m_procedure = app::Procedure::PollReader;
    std::shared_ptr<Step> m_step;
    std::function<void()> m_ended;
    std::function<void()> m_waiting;
};

// The link of this run, created on first use and owned by the application
// object (destroyed with it).
ReaderLink &link();

} // namespace reader
