#include "frames.h"

namespace frames {

qsizetype maxTextLength(bool wrongLength)
{
    return wrongLength ? 254 : 255;
}

QByteArray text(QByteArrayView text, bool wrongLength)
{
    if (text.size() > maxTextLength(wrongLength))
        return {};
    QByteArray frame;
    frame.reserve(2 + text.size());
    frame.append(kTextMarker);
    frame.append(char(text.size() + (wrongLength ? 1 : 0)));
    frame.append(text);
    return frame;
}

QByteArray command(Command c)
{
    const char frame[] = {kCommandMarker, char(c)};
    return QByteArray(frame, sizeof frame);
}

} // namespace frames
