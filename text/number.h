#pragma once

#include <QStringView>

#include <optional>

namespace numbers {

// A number as a user types it into a box: decimal digits only (no sign, no other script's
// digits), blanks around them allowed, at most `max`. Anything else is no number at all,
// never the part that happened to read as one. No more digits than `max` has: "000050" is
// refused where the box expects at most "65535".
std::optional<int> parse(QStringView text, int max);

} // namespace numbers
