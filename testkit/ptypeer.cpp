#include "ptypeer.h"

#include "serial/portmap.h"

#include <QDir>
#include <QFile>

PtyPeer::PtyPeer()
{
    connect(this, &PtyEnd::arrived, this, [this](const QByteArray &bytes) {
        m_arrivals.append({bytes, monotonicNow()});
    });
}

bool linkPort(int number, const QString &device)
{
    QDir().mkpath(ports::linkDirectory());
    QFile::remove(ports::linkPath(number));
    return QFile::link(device, ports::linkPath(number));
}
