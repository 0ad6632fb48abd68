#pragma once
// The program's link to the card reader: the one serial port that the
// polling, the card read, the reader search and the desktop printer share
// (never two of them at a time), and the signals through which the sequences
// tell whoever shows the reader's state. The link knows no window: the main
// window listens to these signals and shows them in its labels.

#include "decode/CardTable.h"

#include <QMap>
#include <QObject>
#include <QString>

class QSerialPort;

namespace reader {

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
    // A polling sequence is talking to the reader (a timer tick that comes
    // meanwhile is left out).
    bool polling = false;
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
        polling = false;
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

private:
    QSerialPort *m_port;
    decode::CardTable m_cardTable;
};

// The link of this run, created on first use and owned by the application
// object (destroyed with it).
ReaderLink &link();

} // namespace reader
