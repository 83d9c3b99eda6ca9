#pragma once

#include <QList>
#include <QString>

#include <optional>

// Port numbers as the user types them, mapped to devices of the system.
// Windows: N is COMN. POSIX: N is the device the link <runtime dir>/padcom/com<N> points to,
// when that entry exists (pseudo-terminals are never listed by the system, so simulators and
// users publish them there); otherwise the N-th serial device the system lists, ordered by
// name and then by number (ttyS2 before ttyS10).
// A published number that cannot be used is a failure, never a reason to open another device.
namespace ports {

// What the window's two-digit box takes, and so every program of the family.
inline constexpr int kMaxPortNumber = 99;
// Why a number outside 1 to kMaxPortNumber names no port, in the user's language.
QString outOfRange();

struct Lookup
{
    QString device;  // what the number names, when usable
    QString problem; // why it cannot be used, in the user's language
    bool published = false;

    bool usable() const { return problem.isEmpty() && !device.isEmpty(); }
};

struct Entry
{
    int number = 0;
    QString device;
    bool published = false; // found through a link, not in the system's list
    QString problem;        // a published number that cannot be used, and why
};

QString linkDirectory();
QString linkPath(int number);
// Without a session (a console, ssh, a service) there is no XDG_RUNTIME_DIR: the programs
// then use the folder Qt itself falls back to, made private, without Qt's warning at every
// look-up. Called before the application object.
void useRuntimeDirectory();

Lookup lookup(int number);

// The device behind a port number, or nothing when the number names no usable port.
std::optional<QString> deviceFor(int number);

// The name the system opens a device by. Windows opens COM10 and above only as \\.\COM10;
// the form works for every COM port, so every one gets it.
QString systemLocation(const QString &device);

// Every number that names a port now, or was published and cannot be used, lowest first.
QList<Entry> table();

// Orders device paths by name and then by the number they end in.
bool naturalLess(const QString &a, const QString &b);

} // namespace ports
