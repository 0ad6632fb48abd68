#pragma once
// Frames travel as byte arrays addressed by 1-based positions: element 0
// exists and carries no data, and the upper bound is the number of bytes.
// Reading a position outside the array gives 0, so code that looks at bytes
// of an untrusted frame can never read past its end.

#include <QByteArray>
#include <QChar>
#include <initializer_list>

namespace frame {

// An empty frame: only element 0.
inline QByteArray empty() { return QByteArray(1, '\0'); }

// A frame holding the given bytes at positions 1..n.
inline QByteArray of(std::initializer_list<int> bytes)
{
    QByteArray a = empty();
    for (int b : bytes)
        a.append(char(quint8(b)));
    return a;
}

// A frame holding the given raw bytes at positions 1..n.
inline QByteArray fromRaw(const QByteArray &raw) { return empty() + raw; }

// Bytes 1..n without element 0.
inline QByteArray raw(const QByteArray &frame) { return frame.isEmpty() ? QByteArray() : frame.mid(1); }

inline int ubound(const QByteArray &frame) { return frame.isEmpty() ? 0 : int(frame.size()) - 1; }

inline quint8 at(const QByteArray &frame, int pos)
{
    return pos >= 1 && pos < frame.size() ? quint8(frame[pos]) : quint8(0);
}

// The character of the byte at a position as the platform's ANSI code page
// would give it (command letters and state letters are plain ASCII).
inline QChar charAt(const QByteArray &frame, int pos) { return QChar(QLatin1Char(char(at(frame, pos)))); }

} // namespace frame
