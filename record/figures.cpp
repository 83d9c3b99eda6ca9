#include "figures.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kFineUs = 10;            // bin width up to kFineEnd
constexpr qint64 kFineEnd = 100'000;      // 100 ms
constexpr qint64 kCoarseUs = 1'000;       // bin width up to kCoarseEnd
constexpr qint64 kCoarseEnd = 10'000'000; // 10 s
constexpr qint64 kWideUs = 100'000;       // bin width beyond
constexpr qint64 kFineBins = kFineEnd / kFineUs;
constexpr qint64 kCoarseBins = (kCoarseEnd - kFineEnd) / kCoarseUs;

} // namespace

qint64 LatencyHistogram::binOf(microseconds latency)
{
    const qint64 us = std::max<qint64>(latency.count(), 0);
    if (us < kFineEnd)
        return us / kFineUs;
    if (us < kCoarseEnd)
        return kFineBins + (us - kFineEnd) / kCoarseUs;
    return kFineBins + kCoarseBins + (us - kCoarseEnd) / kWideUs;
}

std::chrono::microseconds LatencyHistogram::topOf(qint64 bin)
{
    if (bin < kFineBins)
        return microseconds((bin + 1) * kFineUs);
    if (bin < kFineBins + kCoarseBins)
        return microseconds(kFineEnd + (bin - kFineBins + 1) * kCoarseUs);
    return microseconds(kCoarseEnd + (bin - kFineBins - kCoarseBins + 1) * kWideUs);
}

void LatencyHistogram::add(microseconds latency)
{
    latency = std::max(latency, microseconds{0});
    ++m_bins[binOf(latency)];
    m_max = m_count == 0 ? latency : std::max(m_max, latency);
    ++m_count;
}

std::optional<std::chrono::microseconds> LatencyHistogram::quantile(double q) const
{
    if (m_count == 0)
        return std::nullopt;
    const qint64 rank = std::clamp<qint64>(qint64(std::ceil(q * double(m_count))), 1, m_count);
    qint64 seen = 0;
    for (const auto &[bin, count] : m_bins) {
        seen += count;
        if (seen >= rank)
            return std::min(topOf(bin), m_max);
    }
    return m_max;
}

std::optional<std::chrono::microseconds> LatencyHistogram::max() const
{
    return m_count == 0 ? std::nullopt : std::optional(m_max);
}

LatencyHistogram &LatencyHistogram::operator+=(const LatencyHistogram &other)
{
    for (const auto &[bin, count] : other.m_bins)
        m_bins[bin] += count;
    if (other.m_count > 0)
        m_max = m_count == 0 ? other.m_max : std::max(m_max, other.m_max);
    m_count += other.m_count;
    return *this;
}

Figures &Figures::operator+=(const Figures &o)
{
    m_framesSent += o.m_framesSent;
    m_accepted += o.m_accepted;
    m_refused += o.m_refused;
    m_goodRefused += o.m_goodRefused;
    m_wrongAccepted += o.m_wrongAccepted;
    m_goodUnanswered += o.m_goodUnanswered;
    m_wrongUnanswered += o.m_wrongUnanswered;
    m_unexpected += o.m_unexpected;
    m_other += o.m_other;
    m_ticksSkipped += o.m_ticksSkipped;
    m_latency += o.m_latency;
    return *this;
}

void Figures::judged(const Outcome &o)
{
    using Kind = Outcome::Kind;
    using protocol::ByteClass;
    switch (o.kind) {
    case Kind::Answered: {
        const bool accepted = o.reply == ByteClass::Ack;
        const bool shouldAccept = o.expected == replies::Expect::Accept;
        ++(accepted ? m_accepted : m_refused);
        m_goodRefused += shouldAccept && !accepted ? 1 : 0;
        m_wrongAccepted += !shouldAccept && accepted ? 1 : 0;
        if (shouldAccept)
            m_latency.add(o.latency);
        return;
    }
    case Kind::Unanswered:
        ++(o.expected == replies::Expect::Accept ? m_goodUnanswered : m_wrongUnanswered);
        return;
    case Kind::Unexpected:
        ++m_unexpected;
        return;
    case Kind::Other:
        ++m_other;
        return;
    }
}

QString millisecondsText(std::chrono::microseconds latency)
{
    const qint64 us = latency.count();
    const QString sign = us < 0 ? QStringLiteral("-") : QString();
    const qint64 magnitude = us < 0 ? -us : us;
    return sign + QString::number(magnitude / 1000) + u'.'
           + QStringLiteral("%1").arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
}

QString Figures::summary() const
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("Figures", text);
    };
    QString out = tr("Quadros enviados: %1\nAceitos (06): %2\nRecusados (15): %3\n"
                     "Sem resposta: %4\nRespostas inesperadas: %5\nOutros bytes: %6\n"
                     "Tiques pulados: %7\n")
                      .arg(m_framesSent)
                      .arg(m_accepted)
                      .arg(m_refused)
                      .arg(unanswered())
                      .arg(m_unexpected)
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
