#include "ptyend.h"

#include "text/reasons.h"

#include <QFile>
#include <QMetaMethod>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr qsizetype kReadChunk = 4096;

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

PtyEnd::PtyEnd(QObject *parent)
    : QObject(parent)
{
    m_resume.setSingleShot(true);
    m_resume.setTimerType(Qt::PreciseTimer);
    connect(&m_resume, &QTimer::timeout, this, [this] {
        if (m_readNotifier)
            m_readNotifier->setEnabled(true);
    });

    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_error = reasons::ofCode(errno);
        m_master = m_slave = -1;
        return;
    }
    // Our own slave descriptor keeps the master from reading EIO while no program has the
    // port open.
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);

    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyEnd::onReadable);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &PtyEnd::onWritable);
#ifdef __linux__
    m_closeWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_closeWatch >= 0 && ::inotify_add_watch(m_closeWatch, name, IN_CLOSE) >= 0) {
        m_closeNotifier = std::make_unique<QSocketNotifier>(m_closeWatch, QSocketNotifier::Read);
        connect(m_closeNotifier.get(), &QSocketNotifier::activated, this, &PtyEnd::onSlaveClosed);
    }
#endif
}

PtyEnd::~PtyEnd()
{
    closeMaster();
    m_closeNotifier.reset();
    if (m_closeWatch >= 0)
        ::close(m_closeWatch);
    if (m_slave >= 0)
        ::close(m_slave);
}

termios PtyEnd::slaveTermios() const
{
    termios tio{};
    ::tcgetattr(m_slave, &tio);
    return tio;
}

void PtyEnd::makeRaw()
{
    termios tio = slaveTermios();
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
}

void PtyEnd::stopReading()
{
    m_resume.stop();
    m_readNotifier.reset();
}

void PtyEnd::closeMaster()
{
    stopReading();
    m_writeNotifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyEnd::onSlaveClosed()
{
#ifdef __linux__
    char events[4096];
    while (::read(m_closeWatch, events, sizeof events) > 0) {
    }
    // A serial program puts its port in exclusive mode, and the mode outlives a client that
    // was killed, since our own descriptor keeps the terminal alive. Once nobody else has
    // it open, the next client must be let in.
    int exclusive = 0;
    const bool exclusiveLeft = ::ioctl(m_slave, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    if (!exclusiveLeft && !isSignalConnected(QMetaMethod::fromSignal(&PtyEnd::released)))
        return;
    if (heldByOthers(QFile::encodeName(m_slavePath)))
        return;
    if (exclusiveLeft)
        ::ioctl(m_slave, TIOCNXCL);
    emit released();
#endif
}

void PtyEnd::discardUnread()
{
    m_pendingWrite.clear();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    ::tcflush(m_slave, TCIFLUSH);
}

void PtyEnd::onReadable()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const qsizetype allowed = m_pacing.allowance(now, kReadChunk);
    if (allowed < 1) {
        // Wait for the line to deliver the next byte, without spinning on the notifier.
        m_readNotifier->setEnabled(false);
        m_resume.start(
            std::max(std::chrono::ceil<std::chrono::milliseconds>(m_pacing.untilNext()), 1ms));
        return;
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
    m_pacing.take(n);
    buffer.truncate(n);
    emit arrived(buffer);
}

bool PtyEnd::bytesWaiting() const
{
    int waiting = 0;
    return m_master >= 0 && ::ioctl(m_master, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool PtyEnd::send(const QByteArray &bytes)
{
    if (m_master < 0 || m_pendingWrite.size() + bytes.size() > kMaxPendingWrite)
        return false;
    m_pendingWrite += bytes;
    onWritable();
    return true;
}

void PtyEnd::onWritable()
{
    // What the terminal cannot take now goes when it can: the program reads on this thread.
    while (m_master >= 0 && !m_pendingWrite.isEmpty()) {
        const ssize_t n
            = ::write(m_master, m_pendingWrite.constData(), size_t(m_pendingWrite.size()));
        if (n <= 0)
            break;
        m_pendingWrite.remove(0, n);
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pendingWrite.isEmpty());
}
