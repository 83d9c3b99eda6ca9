#pragma once

#include "sim/ptyend.h"
#include "sim/runtimedir.h"

#include <QString>

// The far end of a real pseudo-terminal as the tests use it: it keeps what arrives, with
// the time it arrived.
class PtyPeer : public PtyEnd
{
public:
    PtyPeer() { setRecording(true); }
};

// Makes port number `n` name `device` through a hand-made link, as a user would.
bool linkPort(int number, const QString &device);
