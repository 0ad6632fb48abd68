// Serial port management: open, close, probe, receive one frame, send.

#include "reader/CardReader.h"
#include "app/ProgramState.h"

#include "app/Failure.h"
#include "app/Constants.h"
#include "decode/FrameBytes.h"
#include "reader/FrameRecognizer.h"
#include "reader/PortDevice.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

namespace {

constexpr int kEndPollMs = 50;
constexpr int kMaxEmptyPolls = 3;

qint64 inBufferCount(QSerialPort *port) { return port->isOpen() ? port->bytesAvailable() : 0; }

// Waits up to ms for the first byte to be there, keeping the window
// responsive; returns as soon as the port has something to read.
void waitForInput(QSerialPort *port, int ms)
{
    if (ms <= 0 || inBufferCount(port) > 0)
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(port, &QSerialPort::readyRead, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
}

Failure portFailure(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return Failure(8002, QStringLiteral("ポート番号が無効です。"));
    case QSerialPort::PermissionError:
        return Failure(8005, QStringLiteral("ポートは既に開かれています。"));
    default:
        return Failure(8015, QStringLiteral("通信ポートを使用できません。") + QStringLiteral(" ") + port.errorString());
    }
}

} // namespace

QSerialPort *reader::serialPort() { return reader::link().port(); }

void reader::openPort(int port)
{
    guarded(app::Procedure::OpenPort, [&] {
        QSerialPort *p = reader::serialPort();
        if (p->isOpen())
            return;
        p->setPortName(seams::portDevice(port));
        p->setBaudRate(19200);
        p->setParity(QSerialPort::NoParity);
        p->setDataBits(QSerialPort::Data8);
        p->setStopBits(QSerialPort::OneStop);
        p->setFlowControl(QSerialPort::NoFlowControl);
        if (!p->open(QIODevice::ReadWrite))
            throw portFailure(*p);
        p->clear();
    });
}

void reader::closePort(int /*port*/)
{
    guarded(app::Procedure::ClosePort, [&] {
        QSerialPort *p = reader::serialPort();
        if (!p->isOpen())
            return;
        p->clear();
        p->close();
    });
}

bool reader::portExists(int port)
{
    return guarded(app::Procedure::CheckPortExists, [&] {
        reader::closePort(port);
        QSerialPort *p = reader::serialPort();
        p->setPortName(seams::portDevice(port));
        const bool usable = p->open(QIODevice::ReadWrite);
        p->clearError();
        if (p->isOpen())
            p->close();
        return usable;
    });
}

void reader::receiveFrame(qint32 waitMs, QByteArray &buffer)
{
    guarded(app::Procedure::ReceiveFrame, [&] {
        QSerialPort *port = reader::serialPort();
        reader::FrameRecognizer recognizer;
        int emptyPolls = 0;
        int wait = waitMs;
        for (;;) {
            if (inBufferCount(port) == 0)
                waitForInput(port, wait);
            if (inBufferCount(port) < 1) {
                if (emptyPolls >= kMaxEmptyPolls)
                    break;
                ++emptyPolls;
                wait = kEndPollMs;
                continue;
            }
            char byte = 0;
            if (!port->getChar(&byte))
                continue;
            if (recognizer.feed(quint8(byte)) || recognizer.count() >= reader::kMaxReceiveBytes)
                break;
        }
        buffer = recognizer.buffer();
    });
}

void reader::sendBytes(const QByteArray &bytes)
{
    guarded(app::Procedure::SendFrame, [&] {
        QSerialPort *port = reader::serialPort();
        if (!port->isOpen())
            return;
        const QByteArray out =
            frame::raw(reader::link().relayMode == reader::RelayMode::ThroughRelayUnit ? reader::relayEnvelope(QByteArrayLiteral("COM1:"), bytes) : bytes);
        if (port->write(out) != out.size())
            throw portFailure(*port);
        port->flush();
    });
}
