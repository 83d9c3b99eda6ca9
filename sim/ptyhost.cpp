#include "ptyhost.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
constexpr qsizetype kReadChunk = 4096;
// A far end that never reads: replies beyond this are dropped, as a full line would.
constexpr qsizetype kMaxPendingWrite = qsizetype(64) * 1024;

// Whether a process other than this one has the device open.
bool heldByOthers(const QByteArray &device)
{
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return true; // cannot tell: assume it is
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    bool held = false;
    while (const dirent *p = ::readdir(proc)) {
        if (p->d_name[0] < '1' || p->d_name[0] > '9' || self == p->d_name)
            continue;
        const QByteArray fdDir = QByteArray("/proc/") + p->d_name + "/fd";
        DIR *fds = ::opendir(fdDir.constData());
        if (!fds)
            continue;
        while (const dirent *f = ::readdir(fds)) {
            char target[256];
            const QByteArray link = fdDir + '/' + f->d_name;
            const ssize_t n = ::readlink(link.constData(), target, sizeof target);
            if (n == device.size() && device == QByteArrayView(target, n)) {
                held = true;
                break;
            }
        }
        ::closedir(fds);
        if (held)
            break;
    }
    ::closedir(proc);
    return held;
}
} // namespace

PtyHost::PtyHost(QObject *parent)
    : QObject(parent)
{
    m_resume.setSingleShot(true);
    m_resume.setTimerType(Qt::PreciseTimer);
    connect(&m_resume, &QTimer::timeout, this, [this] { m_readNotifier->setEnabled(true); });
}

PtyHost::~PtyHost()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_closeNotifier.reset();
    if (m_closeWatch >= 0)
        ::close(m_closeWatch);
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyHost::open()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Raw until the program opens it: no echo, no CR/LF translation of early key bytes.
    // The simulator keeps its own slave descriptor so that the master never reads EIO while
    // no program has the port open.
    termios tio{};
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);

    m_clock.start();
    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyHost::onReadable);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &PtyHost::onWritable);
#ifdef __linux__
    m_closeWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_closeWatch >= 0 && ::inotify_add_watch(m_closeWatch, name, IN_CLOSE) >= 0) {
        m_closeNotifier = std::make_unique<QSocketNotifier>(m_closeWatch, QSocketNotifier::Read);
        connect(m_closeNotifier.get(), &QSocketNotifier::activated, this, &PtyHost::onSlaveClosed);
    }
#endif
    return true;
}

void PtyHost::onSlaveClosed()
{
#ifdef __linux__
    char events[4096];
    while (::read(m_closeWatch, events, sizeof events) > 0) {
    }
    // A serial program puts its port in exclusive mode, and the mode outlives a client that
    // was killed, since our own descriptor keeps the terminal alive. Once nobody else has
    // it open, the next client must be let in.
    int exclusive = 0;
    if (::ioctl(m_slave, TIOCGEXCL, &exclusive) == 0 && exclusive != 0
        && !heldByOthers(QFile::encodeName(m_slavePath)))
        ::ioctl(m_slave, TIOCNXCL);
#endif
}

void PtyHost::refill()
{
    const double elapsed = m_clock.nsecsElapsed() / 1e9;
    m_clock.restart();
    m_tokens = std::min(kBurst, m_tokens + elapsed * m_rate);
}

void PtyHost::onReadable()
{
    qsizetype allowed = kReadChunk;
    if (m_rate > 0) {
        refill();
        allowed = qsizetype(m_tokens);
        if (allowed < 1) {
            // Wait for the line to deliver the next byte, without spinning on the notifier.
            m_readNotifier->setEnabled(false);
            const auto wait
                = std::chrono::microseconds(std::llround((1.0 - m_tokens) / m_rate * 1e6));
            m_resume.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(wait), 1ms));
            return;
        }
    }
    QByteArray buffer(allowed, Qt::Uninitialized);
    const ssize_t n = ::read(m_master, buffer.data(), size_t(buffer.size()));
    if (n <= 0) {
        if (n < 0 && errno == EAGAIN)
            return;
        // No program on the other side just now (EIO): look again a little later.
        m_readNotifier->setEnabled(false);
        m_resume.start(100ms);
        return;
    }
    if (m_rate > 0)
        m_tokens -= double(n);
    buffer.truncate(n);
    emit received(buffer);
}

void PtyHost::send(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    if (m_pendingWrite.size() + bytes.size() > kMaxPendingWrite)
        return;
    m_pendingWrite += bytes;
    onWritable();
}

void PtyHost::onWritable()
{
    while (!m_pendingWrite.isEmpty()) {
        const ssize_t n
            = ::write(m_master, m_pendingWrite.constData(), size_t(m_pendingWrite.size()));
        if (n <= 0)
            break;
        m_pendingWrite.remove(0, n);
    }
    m_writeNotifier->setEnabled(!m_pendingWrite.isEmpty());
}
