#pragma once
// One receive from the reader's port, driven by the port's readyRead and a
// timer: it waits up to the given time for the first byte, takes bytes as
// they come until the frame is whole (or kMaxReceiveBytes arrived), and when
// the line falls silent looks again three times, 50 ms apart, before it ends
// with what it has. Nothing waits on the program's thread meanwhile.

#include "reader/FrameRecognizer.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QSerialPort;

namespace reader {

class FrameReceiver : public QObject {
    Q_OBJECT
public:
    explicit FrameReceiver(QSerialPort *port, QObject *parent = nullptr);

    // Starts a receive; received() follows once it ends.
    void start(int waitMs);
    // Ends a running receive without received().
    void cancel();
    bool active() const { return m_active; }

signals:
    // The frame (1-based; upper bound 0 when nothing arrived).
    void received(const QByteArray &buffer);

private:
    void takeWhatIsThere();
    void lookAgain();
    void finish();

    QSerialPort *m_port;
    QTimer m_timer;
    FrameRecognizer m_recognizer;
    int m_wait = 0;
    int m_emptyLooks = 0;
    bool m_active = false;
};

} // namespace reader
