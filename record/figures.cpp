#include "figures.h"

#include "protocol/protocol.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

using namespace std::chrono_literals;

int LatencyHistogram::binOf(microseconds latency)
{
    const qint64 us = std::max<qint64>(latency.count(), 0);
    if (us < kFineBins * 10)
        return int(us / 10);
    const qint64 coarse = (us - kFineBins * 10) / 1000;
    return int(std::min<qint64>(kFineBins + coarse, kFineBins + kCoarseBins));
}

std::chrono::microseconds LatencyHistogram::topOf(int bin)
{
    if (bin < kFineBins)
        return microseconds((bin + 1) * 10);
    return microseconds(qint64(kFineBins) * 10 + qint64(bin - kFineBins + 1) * 1000);
}

void LatencyHistogram::add(microseconds latency)
{
    ++m_bins[size_t(binOf(latency))];
    m_max = m_count == 0 ? latency : std::max(m_max, latency);
    ++m_count;
}

std::optional<std::chrono::microseconds> LatencyHistogram::quantile(double q) const
{
    if (m_count == 0)
        return std::nullopt;
    const qint64 rank = std::clamp<qint64>(qint64(std::ceil(q * double(m_count))), 1, m_count);
    qint64 seen = 0;
    for (size_t bin = 0; bin < m_bins.size(); ++bin) {
        seen += m_bins[bin];
        if (seen >= rank)
            return std::min(topOf(int(bin)), m_max); // never above what was seen
    }
    return m_max;
}

std::optional<std::chrono::microseconds> LatencyHistogram::max() const
{
    return m_count == 0 ? std::nullopt : std::optional(m_max);
}

void SessionFigures::frameSent(nanoseconds lastByteOnWire)
{
    ++m_framesSent;
    m_unanswered.push_back(lastByteOnWire);
    if (qsizetype(m_unanswered.size()) > kMaxUnanswered)
        m_unanswered.pop_front();
}

QList<std::chrono::microseconds> SessionFigures::received(QByteArrayView bytes, nanoseconds at)
{
    QList<microseconds> latencies;
    for (const char c : bytes) {
        const auto b = uchar(c);
        if (b == protocol::kAck)
            ++m_accepted;
        else if (b == protocol::kNack)
            ++m_refused;
        else {
            ++m_other;
            continue;
        }
        if (m_unanswered.empty())
            continue; // a reply to nothing we sent: counted, but it has no latency
        const auto latency = std::chrono::duration_cast<microseconds>(at - m_unanswered.front());
        m_unanswered.pop_front();
        m_latency.add(latency);
        latencies.append(latency);
    }
    return latencies;
}

QString millisecondsText(std::chrono::microseconds latency)
{
    const qint64 us = latency.count();
    const QString sign = us < 0 ? QStringLiteral("-") : QString();
    const qint64 magnitude = us < 0 ? -us : us;
    return sign + QString::number(magnitude / 1000) + u'.'
           + QStringLiteral("%1").arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
}

QString SessionFigures::summary() const
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("SessionFigures", text);
    };
    QString out = tr("Quadros enviados: %1\nAceitos (06): %2\nRecusados (15): %3\n"
                     "Outros bytes: %4\nTiques pulados: %5\n")
                      .arg(m_framesSent)
                      .arg(m_accepted)
                      .arg(m_refused)
                      .arg(m_other)
                      .arg(m_ticksSkipped);
    if (m_latency.count() == 0)
        return out + tr("Latência das respostas: nenhuma resposta ainda");
    return out
           + tr("Latência das respostas (ms): p50 %1  p95 %2  p99 %3  máx %4")
                 .arg(millisecondsText(*m_latency.quantile(0.50)),
                      millisecondsText(*m_latency.quantile(0.95)),
                      millisecondsText(*m_latency.quantile(0.99)),
                      millisecondsText(*m_latency.max()));
}
