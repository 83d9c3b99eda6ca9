#include "portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>

#include <algorithm>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace ports {
namespace {

QStringList systemDevices()
{
    QStringList paths;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        paths << info.systemLocation();
    std::sort(paths.begin(), paths.end());
    return paths;
}

#ifndef Q_OS_WIN
// A lock file beside a link that nobody holds was left by a publisher that died: its link
// may point at a pseudo-terminal number the system has since given to someone else.
bool abandoned(int number)
{
    const QByteArray lock = QFile::encodeName(linkPath(number) + QStringLiteral(".lock"));
    const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false; // no lock file: a link made by hand
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// A link counts only while its target exists and its publisher lives.
std::optional<QString> publishedDevice(int number)
{
    const QFileInfo link(linkPath(number));
    if (!link.isSymLink())
        return std::nullopt;
    const QString target = link.canonicalFilePath();
    if (target.isEmpty() || abandoned(number))
        return std::nullopt;
    return target;
}

int highestLinkNumber()
{
    int highest = 0;
    const QStringList names
        = QDir(linkDirectory()).entryList({QStringLiteral("com*")}, QDir::System | QDir::Files);
    for (const QString &name : names) {
        bool ok = false;
        const int n = name.mid(3).toInt(&ok);
        if (ok && n <= kMaxPortNumber)
            highest = std::max(highest, n);
    }
    return highest;
}
#endif

} // namespace

std::optional<int> parseNumber(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    return digits.toInt();
}

QString linkDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
           + QStringLiteral("/padcom");
}

QString linkPath(int number)
{
    return linkDirectory() + QStringLiteral("/com%1").arg(number);
}

std::optional<QString> deviceFor(int number)
{
    if (number < 1 || number > kMaxPortNumber)
        return std::nullopt;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    if (auto device = publishedDevice(number))
        return device;
    const QStringList system = systemDevices();
    if (number <= system.size())
        return system[number - 1];
    return std::nullopt;
#endif
}

QList<Entry> table()
{
    QList<Entry> entries;
#ifdef Q_OS_WIN
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        const QString name = info.portName();
        bool ok = false;
        const int n = name.mid(3).toInt(&ok);
        if (name.startsWith(u"COM") && ok)
            entries.append({n, name, false});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.number < b.number; });
#else
    const QStringList system = systemDevices();
    const int last = std::max(int(system.size()), highestLinkNumber());
    for (int n = 1; n <= last; ++n) {
        if (auto device = publishedDevice(n))
            entries.append({n, *device, true});
        else if (n <= system.size())
            entries.append({n, system[n - 1], false});
    }
#endif
    return entries;
}

} // namespace ports
