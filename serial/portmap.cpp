#include "portmap.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>

#include <algorithm>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ports {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ports", text);
}

#ifndef Q_OS_WIN
QStringList systemDevices()
{
    QStringList paths;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        paths << info.systemLocation();
    std::sort(paths.begin(), paths.end(), naturalLess);
    return paths;
}

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

// What the entry com<N> says, if there is one.
std::optional<Lookup> published(int number)
{
    const QString path = linkPath(number);
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    Lookup found;
    found.published = true;
    if (!S_ISLNK(st.st_mode)) {
        found.problem = tr("%1 não é um link para um dispositivo.").arg(path);
        return found;
    }
    const QFileInfo link(path);
    const QString target = link.canonicalFilePath();
    if (target.isEmpty()) {
        found.problem = tr("a porta %1 aponta para %2, que não existe (o dispositivo foi "
                           "desconectado?).")
                            .arg(QString::number(number), link.symLinkTarget());
    } else if (abandoned(number)) {
        found.problem = tr("a porta %1 foi publicada por um programa que já terminou.").arg(number);
    } else {
        found.device = target;
    }
    return found;
}

int highestLinkNumber()
{
    int highest = 0;
    const QStringList names
        = QDir(linkDirectory())
              .entryList({QStringLiteral("com*")}, QDir::System | QDir::Files | QDir::Dirs
                                                       | QDir::NoDotAndDotDot | QDir::Hidden);
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

bool naturalLess(const QString &a, const QString &b)
{
    const auto split = [](const QString &s) {
        qsizetype i = s.size();
        while (i > 0 && s[i - 1].isDigit())
            --i;
        return std::pair{QStringView(s).left(i), QStringView(s).mid(i)};
    };
    const auto [stemA, digitsA] = split(a);
    const auto [stemB, digitsB] = split(b);
    if (const int c = stemA.compare(stemB); c != 0)
        return c < 0;
    // Longer digit strings are larger numbers once leading zeros are set aside.
    const auto trimmed = [](QStringView d) {
        while (d.size() > 1 && d.front() == u'0')
            d = d.mid(1);
        return d;
    };
    const QStringView na = trimmed(digitsA), nb = trimmed(digitsB);
    if (na.size() != nb.size())
        return na.size() < nb.size();
    if (const int c = na.compare(nb); c != 0)
        return c < 0;
    return a < b;
}

QString outOfRange()
{
    return tr("os números de porta vão de 1 a %1.").arg(kMaxPortNumber);
}

void useRuntimeDirectory()
{
#ifndef Q_OS_WIN
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const passwd *user = ::getpwuid(::geteuid());
    const QString dir
        = QDir::tempPath() + QStringLiteral("/runtime-")
          + (user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid()));
    ::mkdir(QFile::encodeName(dir).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
#endif
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

Lookup lookup(int number)
{
    Lookup result;
    if (number < 1 || number > kMaxPortNumber) {
        result.problem = outOfRange();
        return result;
    }
#ifdef Q_OS_WIN
    result.device = QStringLiteral("COM%1").arg(number);
#else
    if (auto found = published(number))
        return *found;
    const QStringList system = systemDevices();
    if (number <= system.size())
        result.device = system[number - 1];
    else
        result.problem = tr("não há porta serial com o número %1.").arg(number);
#endif
    return result;
}

QString systemLocation(const QString &device)
{
#ifdef Q_OS_WIN
    if (device.startsWith(u"COM"))
        return QStringLiteral("\\\\.\\") + device;
#endif
    return device;
}

std::optional<QString> deviceFor(int number)
{
    const Lookup found = lookup(number);
    if (!found.usable())
        return std::nullopt;
    return found.device;
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
            entries.append({n, name, false, {}});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.number < b.number; });
#else
    const QStringList system = systemDevices();
    const int last = std::max(int(system.size()), highestLinkNumber());
    for (int n = 1; n <= last; ++n) {
        if (auto found = published(n))
            entries.append({n, found->device, true, found->problem});
        else if (n <= system.size())
            entries.append({n, system[n - 1], false, {}});
    }
#endif
    return entries;
}

} // namespace ports
