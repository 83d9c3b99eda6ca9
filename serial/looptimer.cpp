#include "looptimer.h"

#if defined(Q_OS_LINUX)
#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <QWinEventNotifier>

#include <qt_windows.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002 // Windows 10 1803 on
#endif
#endif

LoopTimer::LoopTimer(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LoopTimer::timeout);
#if defined(Q_OS_LINUX)
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0) {
        m_handle = fd;
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        notifier->setEnabled(false);
        connect(notifier, &QSocketNotifier::activated, this, &LoopTimer::onSystemTimer);
        m_notifier = notifier;
    }
#elif defined(Q_OS_WIN)
    HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_ALL_ACCESS);
    if (!timer) // an older Windows: a plain waitable timer still keeps the grid
        timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    if (timer) {
        m_handle = qintptr(timer);
        auto *notifier = new QWinEventNotifier(timer, this);
        notifier->setEnabled(false);
        connect(notifier, &QWinEventNotifier::activated, this, &LoopTimer::onSystemTimer);
        m_notifier = notifier;
    }
#endif
}

LoopTimer::~LoopTimer()
{
    stop();
    delete m_notifier;
#if defined(Q_OS_LINUX)
    if (m_handle >= 0)
        ::close(int(m_handle));
#elif defined(Q_OS_WIN)
    if (m_handle != -1)
        ::CloseHandle(HANDLE(m_handle));
#endif
}

void LoopTimer::start(std::chrono::milliseconds interval)
{
    stop();
    if (interval <= std::chrono::milliseconds{0})
        return;
    m_interval = int(interval.count());
    m_ticking = true;
    m_started.start();
    m_lastTick = -1;
    if (!m_notifier) {
        m_timer.start(m_interval);
        return;
    }
#if defined(Q_OS_LINUX)
    // Periodic from one interval after now: the kernel keeps the grid, to the nanosecond.
    itimerspec period{};
    period.it_interval.tv_sec = m_interval / 1000;
    period.it_interval.tv_nsec = long(m_interval % 1000) * 1'000'000;
    period.it_value = period.it_interval;
    ::timerfd_settime(int(m_handle), 0, &period, nullptr);
    static_cast<QSocketNotifier *>(m_notifier)->setEnabled(true);
#elif defined(Q_OS_WIN)
    LARGE_INTEGER due;
    due.QuadPart = -qint64(m_interval) * 10'000; // relative, in 100 ns units
    ::SetWaitableTimer(HANDLE(m_handle), &due, m_interval, nullptr, nullptr, FALSE);
    static_cast<QWinEventNotifier *>(m_notifier)->setEnabled(true);
#endif
}

void LoopTimer::stop()
{
    m_ticking = false;
    m_timer.stop();
    if (!m_notifier)
        return;
#if defined(Q_OS_LINUX)
    static_cast<QSocketNotifier *>(m_notifier)->setEnabled(false);
    const itimerspec off{};
    ::timerfd_settime(int(m_handle), 0, &off, nullptr);
    quint64 expirations = 0;
    [[maybe_unused]] const auto n = ::read(int(m_handle), &expirations, sizeof expirations);
#elif defined(Q_OS_WIN)
    static_cast<QWinEventNotifier *>(m_notifier)->setEnabled(false);
    ::CancelWaitableTimer(HANDLE(m_handle));
#endif
}

void LoopTimer::onSystemTimer()
{
#if defined(Q_OS_LINUX)
    quint64 expirations = 0;
    if (::read(int(m_handle), &expirations, sizeof expirations) != sizeof expirations)
        return;
#endif
    if (!m_ticking)
        return;
    // After a tick the busy thread let slip, the next one on the grid may be close behind:
    // two ticks never go out less than half an interval apart.
    const qint64 now = m_started.nsecsElapsed();
    if (m_lastTick >= 0 && now - m_lastTick < qint64(m_interval) * 500'000)
        return;
    m_lastTick = now;
    emit timeout();
}
