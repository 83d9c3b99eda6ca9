#include "pty.h"

#include "serial/portmap.h"

#include <QDir>
#include <QFile>

bool linkPort(int number, const QString &device)
{
    QDir().mkpath(ports::linkDirectory());
    QFile::remove(ports::linkPath(number));
    return QFile::link(device, ports::linkPath(number));
}
