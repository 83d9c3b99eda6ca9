#pragma once

#include <QString>

// Why the system refused something, in the user's language. Qt words the system's reasons
// as the system does, which on Linux and an English Windows is English: "No space left on
// device" inside a Portuguese message reads as a fault of its own.
namespace reasons {

// The reason for a system error code (errno; GetLastError on Windows).
QString ofCode(int code);
// A reason as Qt gave it (a file's errorString()), said in Portuguese where the system's
// code behind it is one a user meets; any other is kept as it is.
QString translated(const QString &systemText);

} // namespace reasons
