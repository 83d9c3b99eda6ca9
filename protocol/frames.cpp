#include "frames.h"

namespace frames {

qsizetype maxTextLength(bool wrongLength)
{
    return protocol::kMaxLengthByte - (wrongLength ? 1 : 0);
}

QByteArray text(QByteArrayView text, bool wrongLength)
{
    if (text.size() > maxTextLength(wrongLength))
        return {};
    QByteArray frame;
    frame.reserve(protocol::kTextHeaderBytes + text.size());
    frame.append(char(protocol::kTextMarker));
    frame.append(char(text.size() + (wrongLength ? 1 : 0)));
    frame.append(text);
    return frame;
}

QByteArray command(Command c)
{
    const char frame[] = {char(protocol::kCommandMarker), char(c)};
    return QByteArray(frame, sizeof frame);
}

} // namespace frames
