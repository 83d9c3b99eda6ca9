#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// A window timer with the classic semantics: ticks every Interval ms while Enabled, never
// with interval 0. Ticks keep to a grid set by the start, at the system's finest resolution
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

    int Interval() const { return m_interval; }
    void setInterval(int ms);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isTicking() const { return m_ticking; }

signals:
    void Timer();

private:
    void update();
    void start();
    void stop();
    void onSystemTimer();

    QTimer m_timer; // where the system offers nothing finer
    QElapsedTimer m_started;
    qint64 m_lastTick = -1; // ns after the start
    int m_interval = 0;
    bool m_enabled = true;
    bool m_ticking = false;
    QObject *m_notifier = nullptr;
    qintptr m_handle = -1; // timerfd, or the waitable timer's HANDLE
};
