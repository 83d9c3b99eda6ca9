#include "number.h"

#include <QString>

namespace numbers {

std::optional<int> parse(QStringView text, int max)
{
    const QStringView digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > QString::number(max).size())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > max) // also keeps the sum far from overflowing
            return std::nullopt;
    }
    return int(value);
}

} // namespace numbers
