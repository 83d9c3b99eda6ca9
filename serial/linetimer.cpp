#include "linetimer.h"

LineTimer::LineTimer(MSComm &comm, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
{
    connect(&m_comm, &MSComm::loopTicked, this, &LineTimer::Timer);
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

void LineTimer::update()
{
    m_comm.setLoopInterval(m_enabled ? m_interval : 0);
}
