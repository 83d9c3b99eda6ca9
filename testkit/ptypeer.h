#pragma once

#include "arrival.h"
#include "pty/ptyend.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The far end of a real pseudo-terminal as the tests use it: it keeps what arrives, with
// the time it arrived.
class PtyPeer : public PtyEnd
{
public:
    PtyPeer();

    QByteArray received() const { return joined(m_arrivals); }
    const QList<Arrival> &arrivals() const { return m_arrivals; }

private:
    QList<Arrival> m_arrivals;
};

// Keeps what `line` reads from now on, with the time of each read, in `into`.
void recordArrivals(PtyEnd &line, QList<Arrival> &into);

// Makes port number `n` name `device` through a hand-made link, as a user would.
bool linkPort(int number, const QString &device);
