#pragma once
// The frame recognition of one receive: a small state machine fed one byte at
// a time, with no port and no clock. It keeps the bytes of the call in a
// 1-based frame and tells, after each byte, whether a complete frame has
// arrived: an ACK reply (5 bytes), a NAK reply (6 bytes), a text frame
// ((byte 6) + (byte 7) + 9 bytes) or a short text frame ((byte 4) + (byte 5)
// + 7 bytes), each ending in ETX and a correct checksum.

#include <QByteArray>

namespace ctl {
constexpr quint8 STX = 0x02;
constexpr quint8 ETX = 0x03;
constexpr quint8 ENQ = 0x05;
constexpr quint8 ACK = 0x06;
constexpr quint8 NAK = 0x15;
} // namespace ctl

namespace reader {

class FrameRecognizer {
public:
    FrameRecognizer() { reset(); }

    void reset();

    // Stores the byte at the next position; true when it completes a frame.
    bool feed(quint8 byte);

    const QByteArray &buffer() const { return m_buffer; }
    int count() const { return m_count; }

    bool stxFrame() const { return m_stxFrame; }
    bool ackFrame() const { return m_ackFrame; }
    bool nakFrame() const { return m_nakFrame; }

private:
    bool checksumMatches(quint8 candidate) const;

    QByteArray m_buffer;
    int m_count = 0;
    int m_headerState = 0;
    quint8 m_lastControl = 0; // 0: none yet
    bool m_stxFrame = false;
    bool m_ackFrame = false;
    bool m_nakFrame = false;
    bool m_etxSeen = false;
    quint32 m_sum = 0; // running sum of bytes 2..count
};

} // namespace reader
