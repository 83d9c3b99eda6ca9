#include "sendloop.h"

namespace sendloop {

std::optional<int> parseRate(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > kMaxRate)
        return std::nullopt;
    return value;
}

} // namespace sendloop

LoopTimer::LoopTimer(QObject *parent)
    : QObject(parent)
{
    // A coarse timer follows the system tick and drifts; the loop promises its rate.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LoopTimer::Timer);
}

void LoopTimer::setInterval(int ms)
{
    if (ms == m_interval)
        return;
    m_interval = ms;
    update();
}

void LoopTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    update();
}

void LoopTimer::update()
{
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
    else
        m_timer.stop();
}
