#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>

// Bytes as they reached the far end of the line, and when (on the monotonic clock).
struct Arrival
{
    QByteArray bytes;
    std::chrono::nanoseconds at;
};

// The bytes of arrivals, in order.
inline QByteArray joined(const QList<Arrival> &arrivals)
{
    QByteArray all;
    for (const Arrival &a : arrivals)
        all += a.bytes;
    return all;
}

// The monotonic clock arrivals are stamped with (CLOCK_MONOTONIC where there is one).
inline std::chrono::nanoseconds monotonicNow()
{
    return std::chrono::steady_clock::now().time_since_epoch();
}
