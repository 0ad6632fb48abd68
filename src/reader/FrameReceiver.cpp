#include "reader/FrameReceiver.h"

#include "reader/CardReader.h"

#include <QSerialPort>

namespace {
constexpr int kLookAgainMs = 50;
constexpr int kMaxEmptyLooks = 3;
} // namespace

reader::FrameReceiver::FrameReceiver(QSerialPort *port, QObject *parent) : QObject(parent), m_port(port)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FrameReceiver::lookAgain);
    connect(m_port, &QSerialPort::readyRead, this, [this] {
        if (!m_active)
            return;
        m_timer.stop();
        takeWhatIsThere();
    });
}

void reader::FrameReceiver::start(int waitMs)
{
    m_recognizer.reset();
    m_wait = waitMs;
    m_emptyLooks = 0;
    m_active = true;
    takeWhatIsThere();
}

void reader::FrameReceiver::cancel()
{
    m_active = false;
    m_timer.stop();
}

void reader::FrameReceiver::takeWhatIsThere()
{
    char byte = 0;
    while (m_active && m_port->isOpen() && m_port->bytesAvailable() > 0) {
        if (!m_port->getChar(&byte))
            break;
        if (m_recognizer.feed(quint8(byte)) || m_recognizer.count() >= reader::kMaxReceiveBytes) {
            finish();
            return;
        }
    }
    if (m_active)
        m_timer.start(std::max(0, m_wait));
}

void reader::FrameReceiver::lookAgain()
{
    if (!m_active)
        return;
    if (m_port->isOpen() && m_port->bytesAvailable() > 0) {
        takeWhatIsThere();
        return;
    }
    if (m_emptyLooks >= kMaxEmptyLooks) {
        finish();
        return;
    }
    ++m_emptyLooks;
    m_wait = kLookAgainMs;
    m_timer.start(m_wait);
}

void reader::FrameReceiver::finish()
{
    m_active = false;
    m_timer.stop();
    emit received(m_recognizer.buffer());
}
