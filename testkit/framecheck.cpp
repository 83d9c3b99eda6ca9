#include "framecheck.h"

#include "protocol/protocol.h"

#include <algorithm>

FrameCheck checkFrames(const QList<Arrival> &arrivals, const QSet<QByteArray> &texts,
                       bool wrongLengthAllowed)
{
    // One byte with its arrival time.
    QList<std::pair<uchar, std::chrono::nanoseconds>> bytes;
    for (const auto &a : arrivals) {
        for (const char c : a.bytes)
            bytes.append({uchar(c), a.at});
    }
    FrameCheck check;
    qsizetype i = 0;
    const auto fail = [&](const QString &what) {
        check.error = QStringLiteral("byte %1 of %2: %3").arg(i).arg(bytes.size()).arg(what);
        return check;
    };
    while (i < bytes.size()) {
        const qsizetype start = i;
        qsizetype size = 0;
        if (bytes[i].first == protocol::kCommandMarker) {
            if (i + 1 >= bytes.size())
                return fail(QStringLiteral("command frame cut"));
            const uchar c = bytes[i + 1].first;
            using protocol::Command;
            if (c != uchar(Command::Clear) && c != uchar(Command::Line1)
                && c != uchar(Command::Line2))
                return fail(QStringLiteral("unknown command %1").arg(c, 2, 16));
            size = protocol::kCommandFrameBytes;
            ++check.commandFrames;
        } else if (bytes[i].first == protocol::kTextMarker) {
            if (i + 1 >= bytes.size())
                return fail(QStringLiteral("text frame cut after its marker"));
            constexpr qsizetype kHeader = protocol::kTextHeaderBytes;
            const qsizetype length = bytes[i + 1].first;
            const auto textOf = [&](qsizetype n) {
                QByteArray text;
                for (qsizetype k = 0; k < n && i + kHeader + k < bytes.size(); ++k)
                    text.append(char(bytes[i + kHeader + k].first));
                return text;
            };
            if (i + kHeader + length <= bytes.size() && texts.contains(textOf(length)))
                size = kHeader + length;
            else if (wrongLengthAllowed && length > 0 && texts.contains(textOf(length - 1)))
                size = kHeader - 1 + length;
            else if (i + kHeader + length > bytes.size())
                return fail(QStringLiteral("text frame of %1 cut").arg(length));
            else
                return fail(QStringLiteral("text frame carries \"%1\"")
                                .arg(QString::fromLatin1(textOf(length))));
            ++check.textFrames;
        } else {
            return fail(QStringLiteral("stray byte %1").arg(bytes[i].first, 2, 16));
        }
        for (qsizetype k = start + 1; k < start + size; ++k)
            check.longestGapInFrame
                = std::max(check.longestGapInFrame, bytes[k].second - bytes[k - 1].second);
        i = start + size;
    }
    return check;
}
