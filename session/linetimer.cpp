#include "linetimer.h"

LineTimer::LineTimer(Session &session, QObject *parent)
    : QObject(parent)
    , m_session(session)
{
    connect(&m_session, &Session::ticked, this, &LineTimer::Timer);
}

void LineTimer::setInterval(int ms)
{
    if (ms == m_interval)
        return;
    m_interval = ms;
    update();
}

void LineTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    update();
}

void LineTimer::setFrames(const QList<QByteArray> &frames)
{
    MSComm::LoopPlan plan;
    plan.frames = frames;
    m_session.setLoopPlan(plan);
}

void LineTimer::update()
{
    m_session.setLoopInterval(m_enabled ? m_interval : 0);
}
