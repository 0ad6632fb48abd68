#include "reader/ReaderLink.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSerialPort>

reader::ReaderLink::ReaderLink(QObject *parent) : QObject(parent), m_port(new QSerialPort(this))
{
    m_port->setObjectName(QStringLiteral("MSComm"));
}

reader::ReaderLink::~ReaderLink()
{
    if (m_port->isOpen())
        m_port->close();
}

reader::ReaderLink &reader::link()
{
    static QPointer<reader::ReaderLink> link;
    if (!link)
        link = new reader::ReaderLink(QCoreApplication::instance());
    return *link;
}
