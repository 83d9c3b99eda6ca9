#include "linerecorder.h"

#include <poll.h>
#include <unistd.h>

LineRecorder::LineRecorder(int fd, double bytesPerSecond, Replies replies)
    : m_fd(fd)
    , m_pacing(bytesPerSecond)
    , m_replies(std::move(replies))
    , m_thread([this] { run(); })
{
}

LineRecorder::~LineRecorder()
{
    m_stop = true;
    m_thread.join();
}

void LineRecorder::run()
{
    using namespace std::chrono;
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN))
            continue;
        char buffer[4096];
        const qsizetype allowed = m_pacing.allowance(monotonicNow(), qsizetype(sizeof buffer));
        if (allowed < 1) {
            std::this_thread::sleep_for(m_pacing.untilNext());
            continue;
        }
        const ssize_t n = ::read(m_fd, buffer, size_t(allowed));
        if (n <= 0) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        m_pacing.take(n);
        const auto at = monotonicNow();
        if (m_replies) {
            const QByteArray reply = m_replies(QByteArrayView(buffer, n), at);
            // A near end that went away needs no answer.
            [[maybe_unused]] const ssize_t written
                = reply.isEmpty() ? 0 : ::write(m_fd, reply.constData(), size_t(reply.size()));
        }
        const std::lock_guard lock(m_mutex);
        m_arrivals.append({QByteArray(buffer, n), at});
    }
}

QByteArray LineRecorder::bytes() const
{
    const std::lock_guard lock(m_mutex);
    return joined(m_arrivals);
}

QList<Arrival> LineRecorder::arrivals() const
{
    const std::lock_guard lock(m_mutex);
    return m_arrivals;
}

void LineRecorder::settle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const
{
    const auto end = monotonicNow() + limit;
    while (monotonicNow() < end) {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_arrivals.isEmpty() && monotonicNow() - m_arrivals.last().at >= quiet)
                return;
            if (m_arrivals.isEmpty() && monotonicNow() + quiet >= end)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
