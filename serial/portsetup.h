#pragma once

#include "linesettings.h"
#include "mscomm.h"

#include <QString>

// Opening the port the user names, in the order the keyboard expects: its line settings
// ("9600,N,8,1"), whole receive buffer per read, the number, open, then DTR off and RTS off.
namespace portsetup {

inline const QString kLineSettings = LineSettings().toString();

struct Outcome
{
    bool opened = false;
    QString reason; // why not, in the user's language
};

// Leaves the port closed on any failure: a port left open behind the frame could never be
// opened again.
Outcome open(MSComm &comm, const QString &typedNumber);

} // namespace portsetup
