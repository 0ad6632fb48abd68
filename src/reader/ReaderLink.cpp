#include "reader/ReaderLink.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSerialPort>

ReaderLink::ReaderLink(QObject *parent) : QObject(parent), m_port(new QSerialPort(this))
{
    m_port->setObjectName(QStringLiteral("MSComm"));
}

ReaderLink::~ReaderLink()
{
    if (m_port->isOpen())
        m_port->close();
}

ReaderLink &reader::link()
{
    static QPointer<ReaderLink> link;
    if (!link)
        link = new ReaderLink(QCoreApplication::instance());
    return *link;
}
