#include "faults.h"

#include "protocol/protocol.h"

#include <QCoreApplication>
#include <QStringList>

bool ReplyFaults::withheld() const
{
    return (m_faults.silentAfter >= 0 && m_frames > m_faults.silentAfter)
           || (m_faults.dropEvery > 0 && m_frames % m_faults.dropEvery == 0);
}

QByteArray ReplyFaults::shape(QByteArrayView replies)
{
    QByteArray line;
    for (char reply : replies) {
        ++m_frames;
        // Noise belongs to the line, not to the keyboard: it comes whether or not an answer does.
        if (m_faults.noiseEvery > 0 && m_frames % m_faults.noiseEvery == 0) {
            line += kNoise;
            ++m_noise;
        }
        if (withheld()) {
            ++m_withheld;
            continue;
        }
        if (m_faults.acceptAll && uchar(reply) == protocol::kNack) {
            reply = char(protocol::kAck);
            ++m_falseAccepts;
        }
        line += reply;
        if (m_faults.answerTwice) {
            line += reply;
            ++m_doubled;
        }
    }
    return line;
}

QString ReplyFaults::summary() const
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("padsim", text);
    };
    QStringList said;
    if (m_withheld > 0)
        said << tr("sem resposta %1").arg(m_withheld);
    if (m_doubled > 0)
        said << tr("em dobro %1").arg(m_doubled);
    if (m_noise > 0)
        said << tr("ruído %1").arg(m_noise);
    if (m_falseAccepts > 0)
        said << tr("06 em vez de 15: %1").arg(m_falseAccepts);
    return said.join(QStringLiteral("  "));
}
