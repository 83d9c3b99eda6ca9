#pragma once

#include <QList>
#include <QString>

#include <optional>

// Port numbers as the user types them, mapped to devices of the system.
// Windows: N is COMN. POSIX: N is the device the link <runtime dir>/padcom/com<N> points to,
// when that link exists (pseudo-terminals are never listed by the system, so simulators and
// users publish them there); otherwise the N-th serial device the system lists, by path.
namespace ports {

inline constexpr int kMaxPortNumber = 255;

struct Entry
{
    int number = 0;
    QString device;
    bool published = false; // found through a link, not in the system's list
};

// Strict reading of a typed port number: decimal digits, blanks around them allowed.
std::optional<int> parseNumber(const QString &text);

QString linkDirectory();
QString linkPath(int number);

// The device behind a port number, or nothing when the number names no port.
std::optional<QString> deviceFor(int number);

// Every number that names a port now, lowest first.
QList<Entry> table();

} // namespace ports
