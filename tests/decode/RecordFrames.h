#pragma once
// Record frames for the decoding tests: a 34-byte "LD" "Y" frame (1-based)
// with chosen bytes.

#include "decode/FrameBytes.h"

#include <QByteArray>
#include <initializer_list>
#include <utility>

inline QByteArray ldFrame(std::initializer_list<std::pair<int, int>> bytes)
{
    QByteArray f = frame::of({0x02, 0x31, 0x30, 0x00, 0x00, 0x00, 25, 'L', 'D', 'Y'});
    f.append(QByteArray(24, '\0'));
    for (auto [pos, value] : bytes)
        f[pos] = char(quint8(value));
    f[33] = 0x03;
    return f;
}

// A valid record told apart by k (its amount), on date bytes d23, d24.
inline QByteArray recordFrame(int k, int d23 = 0x13, int d24 = 0x8F)
{
    return ldFrame({{12, 0x41}, {13, 0x05}, {14, 0x0A}, {15, 0x1B}, {16, 0x2C}, {23, d23}, {24, d24},
                    {25, 0x8E}, {26, 0x9D}, {27, 1}, {28, 0x80}, {29, (k >> 8) & 0xFF}, {30, k & 0xFF},
                    {31, 0x03}, {32, 0x92}});
}
