// Serial port management: open, close, probe, send (a receive is reader::FrameReceiver).

#include "reader/CardReader.h"

#include "app/Failure.h"
#include "app/Constants.h"
#include "decode/FrameBytes.h"
#include "reader/PortDevice.h"

#include <QSerialPort>

namespace {

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
    app::tagged(app::Procedure::OpenPort, [&] {
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
    app::tagged(app::Procedure::ClosePort, [&] {
        QSerialPort *p = reader::serialPort();
        if (!p->isOpen())
            return;
        p->clear();
        p->close();
    });
}

bool reader::portExists(int port)
{
    return app::tagged(app::Procedure::CheckPortExists, [&] {
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

void reader::sendBytes(const QByteArray &bytes, Envelope envelope)
{
    app::tagged(app::Procedure::SendFrame, [&] {
        QSerialPort *port = reader::serialPort();
        if (!port->isOpen())
            return;
        const QByteArray out =
            frame::raw(envelope == Envelope::AsRelayModeSays && reader::link().relayMode == reader::RelayMode::ThroughRelayUnit
                           ? reader::relayEnvelope(QByteArrayLiteral("COM1:"), bytes) : bytes);
        if (port->write(out) != out.size())
            throw portFailure(*port);
        port->flush();
    });
}
