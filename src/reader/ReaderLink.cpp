#include "reader/ReaderLink.h"

#include "app/Failure.h"
#include "reader/FrameReceiver.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSerialPort>

reader::ReaderLink::ReaderLink(QObject *parent)
    : QObject(parent), m_port(new QSerialPort(this)), m_receiver(new FrameReceiver(m_port, this))
{
    m_port->setObjectName(QStringLiteral("MSComm"));
    connect(m_receiver, &FrameReceiver::received, this, &ReaderLink::takeFrame);
}

reader::ReaderLink::~ReaderLink()
{
    if (m_port->isOpen())
        m_port->close();
}

void reader::ReaderLink::runSequence(app::Procedure procedure, int firstWait, Step step, std::function<void()> ended)
{
    m_procedure = procedure;
    m_step = std::make_shared<Step>(std::move(step));
    m_ended = std::move(ended);
    m_receiver->start(firstWait);
}

void reader::ReaderLink::takeFrame(const QByteArray &frame)
{
    if (!m_step)
        return;
    const std::shared_ptr<Step> step = m_step; // a step may drop the sequence
    std::optional<int> next;
    if (!handOn([&] { next = (*step)(frame); }))
        return;
    if (m_step != step)
        return;
    if (next) {
        m_receiver->start(*next);
        return;
    }
    m_step.reset();
    const std::function<void()> ended = std::exchange(m_ended, {});
    if (ended && !handOn(ended))
        return;
    emit sequenceEnded();
    if (!busy() && m_waiting)
        handOn(std::exchange(m_waiting, {}));
}

bool reader::ReaderLink::handOn(const std::function<void()> &part)
{
    try {
        app::tagged(m_procedure, part);
    } catch (const ExpectedFailure &failure) { // the sequence ends here, as any other end
        emit sequenceFailed(failure);
    } catch (const Failure &failure) {
        dropSequences();
        emit sequenceFailed(failure);
        return false;
    }
    return true;
}

void reader::ReaderLink::whenFree(std::function<void()> start)
{
    if (busy())
        m_waiting = std::move(start);
    else
        start();
}

void reader::ReaderLink::dropSequences()
{
    m_receiver->cancel();
    m_step.reset();
    m_ended = {};
    m_waiting = {};
}

reader::ReaderLink &reader::link()
{
    static QPointer<reader::ReaderLink> link;
    if (!link)
        link = new reader::ReaderLink(QCoreApplication::instance());
    return *link;
}
