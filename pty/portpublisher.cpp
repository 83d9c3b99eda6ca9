#include "portpublisher.h"

#include "serial/portmap.h"
#include "text/reasons.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString lockPath(int number)
{
    return ports::linkPath(number) + QStringLiteral(".lock");
}

QString systemError()
{
    return reasons::ofCode(errno);
}

} // namespace

PortPublisher::~PortPublisher()
{
    unpublish();
}

PortPublisher::Claim PortPublisher::claim(const QString &device, int number, bool skipForeignLinks)
{
    const QByteArray lock = QFile::encodeName(lockPath(number));
    const bool lockExisted = QFileInfo::exists(lockPath(number));
    const int fd = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QStringLiteral("%1: %2").arg(lockPath(number), systemError());
        return Claim::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd); // a live publisher has it
        return Claim::Taken;
    }
    const QString link = ports::linkPath(number);
    const QFileInfo info(link);
    const bool linkLive = info.isSymLink() && info.exists();
    if (linkLive && !lockExisted) {
        // A link somebody made by hand: not ours to replace.
        ::close(fd);
        QFile::remove(lockPath(number));
        if (!skipForeignLinks)
            m_error = QStringLiteral("%1 já existe").arg(link);
        return skipForeignLinks ? Claim::Taken : Claim::Failed;
    }
    QFile::remove(link); // dangling, or left by a publisher that died
    if (::symlink(QFile::encodeName(device).constData(), QFile::encodeName(link).constData())
        != 0) {
        m_error = QStringLiteral("%1: %2").arg(link, systemError());
        ::close(fd);
        return Claim::Failed;
    }
    m_lockFd = fd;
    m_number = number;
    return Claim::Claimed;
}

bool PortPublisher::publish(const QString &device, int number)
{
    unpublish();
    const QString dir = ports::linkDirectory();
    if (!QDir().mkpath(dir)) {
        m_error = QStringLiteral("%1: não foi possível criar a pasta").arg(dir);
        return false;
    }
    ::chmod(QFile::encodeName(dir).constData(), 0700);

    if (number > 0) {
        if (number > ports::kMaxPortNumber) {
            m_error = QStringLiteral("número de porta fora do intervalo 1-%1")
                          .arg(ports::kMaxPortNumber);
            return false;
        }
        const Claim c = claim(device, number, false);
        if (c == Claim::Taken)
            m_error = QStringLiteral("a porta %1 já está publicada").arg(number);
        return c == Claim::Claimed;
    }
    const qsizetype systemCount = QSerialPortInfo::availablePorts().size();
    for (int n = int(systemCount) + 1; n <= ports::kMaxPortNumber; ++n) {
        switch (claim(device, n, true)) {
        case Claim::Claimed:
            return true;
        case Claim::Failed:
            return false;
        case Claim::Taken:
            break;
        }
    }
    m_error = QStringLiteral("nenhum número de porta livre");
    return false;
}

void PortPublisher::unpublish()
{
    if (m_lockFd < 0)
        return;
    QFile::remove(ports::linkPath(m_number));
    QFile::remove(lockPath(m_number));
    ::close(m_lockFd);
    m_lockFd = -1;
    m_number = 0;
}
