#include "reader/FrameRecognizer.h"

#include "decode/FrameBytes.h"

void reader::FrameRecognizer::reset()
{
    m_buffer = frame::empty();
    m_count = 0;
    m_headerState = 0;
    m_lastControl = 0;
    m_stxFrame = m_ackFrame = m_nakFrame = m_etxSeen = false;
    m_sum = 0;
}

bool reader::FrameRecognizer::checksumMatches(quint8 candidate) const
{
    // Every byte but the first and the candidate itself, modulo 256.
    const quint32 sum = m_count >= 2 ? m_sum - candidate : 0;
    return quint8(sum & 0xFF) == candidate;
}

bool reader::FrameRecognizer::feed(quint8 byte)
{
    ++m_count;
    m_buffer.append(char(byte));
    if (m_count >= 2)
        m_sum += byte;

    if (m_headerState == 1) {
        m_headerState = byte == 0x31 ? 2 : 0;
    } else if (m_headerState == 2) {
        if (byte == 0x30 || byte == 0x32) {
            if (m_lastControl == ctl::STX)
                m_stxFrame = true;
            else if (m_lastControl == ctl::ACK)
                m_ackFrame = true;
            else if (m_lastControl == ctl::NAK)
                m_nakFrame = true;
        } else {
            m_headerState = 0;
        }
    }

    if (m_etxSeen) {
        int expected = 0;
        if (m_nakFrame)
            expected = 6;
        else if (m_ackFrame)
            expected = 5;
        else if (m_stxFrame && m_count >= 7)
            expected = frame::at(m_buffer, 6) + frame::at(m_buffer, 7) + 9;
        if (m_count == expected) {
            if (checksumMatches(byte))
                return true;
        } else if (m_count >= 5) {
            const int shortLength = frame::at(m_buffer, 4) + frame::at(m_buffer, 5) + 7;
            if (m_count == shortLength && checksumMatches(byte))
                return true;
        }
        m_etxSeen = false;
    }

    switch (byte) {
    case ctl::STX:
    case ctl::ACK:
    case ctl::NAK:
        m_lastControl = byte;
        m_headerState = 1;
        break;
    case ctl::ETX:
        m_etxSeen = true;
        break;
    default:
        break;
    }
    return false;
}
