#include "pty.h"

#include "serial/portmap.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

std::chrono::nanoseconds monotonicNow()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

PtyPeer::PtyPeer()
    : m_start(monotonicNow())
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PtyPeer::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &PtyPeer::flush);
}

PtyPeer::~PtyPeer()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

termios PtyPeer::slaveTermios() const
{
    termios tio{};
    ::tcgetattr(m_slave, &tio);
    return tio;
}

void PtyPeer::send(const QByteArray &bytes)
{
    m_pending += bytes;
    flush();
}

void PtyPeer::flush()
{
    // What the terminal cannot take now goes when it can: the program reads on this thread.
    while (m_master >= 0 && !m_pending.isEmpty()) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n <= 0)
            break;
        m_pending.remove(0, n);
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

void PtyPeer::clear()
{
    m_received.clear();
    m_chunks.clear();
}

void PtyPeer::closeMaster()
{
    m_notifier.reset();
    m_writeNotifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPeer::onReadable()
{
    const auto now = monotonicNow();
    qsizetype allowed = 4096;
    if (m_rate > 0) {
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        m_start = now;
        m_tokens = std::min(64.0, m_tokens + seconds * m_rate);
        allowed = qsizetype(m_tokens);
        if (allowed < 1) {
            m_notifier->setEnabled(false);
            QTimer::singleShot(std::chrono::milliseconds(2), this, [this] {
                if (m_notifier)
                    m_notifier->setEnabled(true);
            });
            return;
        }
    }
    QByteArray buffer(allowed, Qt::Uninitialized);
    const ssize_t n = ::read(m_master, buffer.data(), size_t(buffer.size()));
    if (n <= 0)
        return;
    buffer.truncate(n);
    if (m_rate > 0)
        m_tokens -= double(n);
    m_received += buffer;
    m_chunks.append({buffer, now});
}

RuntimeDir::RuntimeDir()
{
    if (m_dir.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
}

bool linkPort(int number, const QString &device)
{
    QDir().mkpath(ports::linkDirectory());
    QFile::remove(ports::linkPath(number));
    return QFile::link(device, ports::linkPath(number));
}
