#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

// A periodic timer whose ticks keep to a grid set by its start, at the system's finest resolution
// (a timerfd on Linux, a high-resolution waitable timer on Windows; elsewhere Qt's precise
// timer): a millisecond timer leaves each tick up to a millisecond off the grid. A tick that
// comes due while the thread is busy goes out late, once, and the grid goes on; ticks are
// never less than half an interval apart.
class LoopTimer : public QObject
{
    Q_OBJECT

public:
    explicit LoopTimer(QObject *parent = nullptr);
    ~LoopTimer() override;

    // Ticks every `interval` from one interval after now, on a new grid.
    void start(std::chrono::milliseconds interval);
    void stop();
    bool isActive() const { return m_ticking; }

signals:
    void timeout();

private:
    void onSystemTimer();

    QTimer m_timer; // where the system offers nothing finer
    QElapsedTimer m_started;
    qint64 m_lastTick = -1; // ns after the start
    int m_interval = 0;     // ms
    bool m_ticking = false;
    QObject *m_notifier = nullptr;
    qintptr m_handle = -1; // timerfd, or the waitable timer's HANDLE
};
