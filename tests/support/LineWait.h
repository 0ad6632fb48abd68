#pragma once
// For tests and benchmarks: the reader's sequences run on the event loop, so
// whoever drives one from outside a window lets the loop run until the line
// is free again (or, with done, until a sequence's end said so).

#include "reader/ReaderLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

inline bool waitUntil(const std::function<bool()> &done, int ms = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

inline bool waitForLine(int ms = 60000)
{
    return waitUntil([] { return !reader::link().busy(); }, ms);
}
