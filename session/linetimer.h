#pragma once

#include "session.h"

#include <QByteArray>
#include <QList>
#include <QObject>

// The send loop's timer as its window holds it: Interval and Enabled like any window timer
// (ticks while enabled, never at interval 0), but it ticks on the serial control's thread,
// which sends the tick's frames there and then, whatever the window's thread is busy with.
// Timer() tells the window afterwards what the tick did.
class LineTimer : public QObject
{
    Q_OBJECT

public:
    explicit LineTimer(Session &session, QObject *parent = nullptr);

    int Interval() const { return m_interval; }
    void setInterval(int ms);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isTicking() const { return m_session.comm().loopTicking(); }
    // What every tick sends from now on.
    void setFrames(const QList<QByteArray> &frames);

signals:
    void Timer(const Session::Event &tick);

private:
    void update();

    Session &m_session;
    int m_interval = 0;
    bool m_enabled = true;
};
