#include "ptypeer.h"

#include "serial/portmap.h"

#include <QDir>
#include <QFile>

PtyPeer::PtyPeer()
{
    recordArrivals(*this, m_arrivals);
}

void recordArrivals(PtyEnd &line, QList<Arrival> &into)
{
    QObject::connect(&line, &PtyEnd::arrived, &line, [&into](const QByteArray &bytes) {
        into.append({bytes, monotonicNow()});
    });
}

bool linkPort(int number, const QString &device)
{
    QDir().mkpath(ports::linkDirectory());
    QFile::remove(ports::linkPath(number));
    return QFile::link(device, ports::linkPath(number));
}
