#include "sessionrecord.h"

#include "text/boxtext.h"
#include "text/reasons.h"
#include "text/win1252.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

using namespace std::chrono_literals;

namespace record {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SessionRecord", text);
}

QString hexOf(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString seconds(std::chrono::microseconds at)
{
    const qint64 us = at.count();
    return QStringLiteral("%1.%2")
        .arg(us / 1'000'000, 6)
        .arg(us % 1'000'000, 6, 10, QLatin1Char('0'));
}

} // namespace

QString shownText(QByteArrayView bytes)
{
    QString out;
    for (const char b : bytes) {
        const QChar c = win1252::toUnicode(uchar(b));
        const QString symbol = boxtext::render(QString(c), boxtext::Layout::Log);
        const QString name = symbol.size() == 1 ? boxtext::nameOf(symbol[0], c) : QString();
        out += name.isEmpty() ? QString(c) : u'<' + name + u'>';
    }
    return out;
}

namespace {

QString figuresHeading(const Event &e)
{
    if (e.scope == Event::Scope::File)
        return tr("Números da gravação inteira:");
    return e.unit > 0 ? tr("Números do teclado %1 na porta %2:").arg(e.unit).arg(e.port)
                      : tr("Números desta abertura da porta %1:").arg(e.port);
}

// What the replies among a block's bytes were: latencies, and those that answered nothing.
QString repliesText(const QList<replies::Outcome> &outcomes)
{
    QStringList latencies;
    int unexpected = 0;
    for (const replies::Outcome &o : outcomes) {
        if (o.kind == replies::Outcome::Kind::Answered)
            latencies << millisecondsText(o.latency);
        unexpected += o.kind == replies::Outcome::Kind::Unexpected ? 1 : 0;
    }
    QString out;
    if (!latencies.isEmpty())
        out += tr("  latência %1 ms").arg(latencies.join(QStringLiteral(", ")));
    if (unexpected == 1)
        out += tr("  1 resposta sem quadro pendente");
    else if (unexpected > 1)
        out += tr("  %1 respostas sem quadro pendente").arg(unexpected);
    return out;
}

} // namespace

QString textLine(const Event &e)
{
    const QString at = seconds(e.at);
    switch (e.kind) {
    case Event::Kind::Start:
        return QStringLiteral("# PADCOM %1").arg(e.detail);
    case Event::Kind::Opened:
        return tr("%1  **  porta %2 aberta: %3").arg(at, QString::number(e.port), e.detail)
               + (e.unit > 0 ? tr(" (teclado %1)").arg(e.unit) : QString());
    case Event::Kind::Closed:
        return tr("%1  **  porta %2 fechada").arg(at, QString::number(e.port));
    case Event::Kind::Lost:
        return tr("%1  **  porta %2 perdida: %3").arg(at, QString::number(e.port), e.detail);
    case Event::Kind::StillOpen:
        return tr("%1  **  fim da gravação com a porta %2 aberta").arg(at, QString::number(e.port));
    case Event::Kind::TickSkipped:
        return tr("%1  **  tique pulado").arg(at);
    case Event::Kind::Sent:
        return QStringLiteral("%1  ->  %2  \"%3\"").arg(at, hexOf(e.bytes), shownText(e.bytes));
    case Event::Kind::Unanswered:
        return tr("%1  **  sem resposta: %2  \"%3\"").arg(at, hexOf(e.bytes), shownText(e.bytes));
    case Event::Kind::Received:
        return QStringLiteral("%1  <-  %2  \"%3\"").arg(at, hexOf(e.bytes), shownText(e.bytes))
               + repliesText(e.outcomes);
    case Event::Kind::Figures:
        return QStringLiteral("# ") + figuresHeading(e) + QStringLiteral("\n# ")
               + e.figures->summary().replace(u'\n', QStringLiteral("\n# "));
    }
    return {};
}

QJsonObject figuresJson(const Figures &f)
{
    QJsonObject o{{QStringLiteral("frames_sent"), f.framesSent()},
                  {QStringLiteral("accepted"), f.accepted()},
                  {QStringLiteral("refused"), f.refused()},
                  {QStringLiteral("unanswered"), f.unanswered()},
                  {QStringLiteral("unexpected"), f.unexpected()},
                  {QStringLiteral("other_bytes"), f.otherBytes()},
                  {QStringLiteral("ticks_skipped"), f.ticksSkipped()},
                  {QStringLiteral("replies"), f.latency().count()}};
    if (f.latency().count() > 0) {
        o[QStringLiteral("latency_us")]
            = QJsonObject{{QStringLiteral("p50"), qint64(f.latency().quantile(0.50)->count())},
                          {QStringLiteral("p95"), qint64(f.latency().quantile(0.95)->count())},
                          {QStringLiteral("p99"), qint64(f.latency().quantile(0.99)->count())},
                          {QStringLiteral("max"), qint64(f.latency().max()->count())}};
    }
    return o;
}

QByteArray jsonLine(const Event &e)
{
    QJsonObject o{{QStringLiteral("t_us"), qint64(e.at.count())}};
    const auto withBytes = [&] {
        o[QStringLiteral("hex")] = hexOf(e.bytes);
        o[QStringLiteral("text")] = shownText(e.bytes);
    };
    const auto withPort = [&] {
        o[QStringLiteral("port")] = e.port;
    };
    switch (e.kind) {
    case Event::Kind::Start:
        o[QStringLiteral("event")] = QStringLiteral("start");
        o[QStringLiteral("detail")] = e.detail;
        break;
    case Event::Kind::Opened:
        o[QStringLiteral("event")] = QStringLiteral("open");
        withPort();
        o[QStringLiteral("device")] = e.detail;
        if (e.unit > 0)
            o[QStringLiteral("unit")] = e.unit;
        break;
    case Event::Kind::Closed:
        o[QStringLiteral("event")] = QStringLiteral("close");
        withPort();
        break;
    case Event::Kind::Lost:
        o[QStringLiteral("event")] = QStringLiteral("lost");
        withPort();
        o[QStringLiteral("reason")] = e.detail;
        break;
    case Event::Kind::StillOpen:
        o[QStringLiteral("event")] = QStringLiteral("still_open");
        withPort();
        break;
    case Event::Kind::TickSkipped:
        o[QStringLiteral("event")] = QStringLiteral("skip");
        break;
    case Event::Kind::Sent:
        o[QStringLiteral("event")] = QStringLiteral("tx");
        withBytes();
        break;
    case Event::Kind::Unanswered:
        o[QStringLiteral("event")] = QStringLiteral("unanswered");
        withBytes();
        break;
    case Event::Kind::Received: {
        o[QStringLiteral("event")] = QStringLiteral("rx");
        withBytes();
        QJsonArray latencies;
        int unexpected = 0;
        for (const replies::Outcome &r : e.outcomes) {
            if (r.kind == replies::Outcome::Kind::Answered)
                latencies.append(qint64(r.latency.count()));
            unexpected += r.kind == replies::Outcome::Kind::Unexpected ? 1 : 0;
        }
        o[QStringLiteral("latency_us")] = latencies;
        if (unexpected > 0)
            o[QStringLiteral("unexpected")] = unexpected;
        break;
    }
    case Event::Kind::Figures: {
        const QJsonObject figures = figuresJson(*e.figures);
        for (auto it = figures.begin(); it != figures.end(); ++it)
            o.insert(it.key(), it.value());
        o[QStringLiteral("event")] = QStringLiteral("figures");
        if (e.scope == Event::Scope::Section) {
            o[QStringLiteral("scope")] = QStringLiteral("section");
            withPort();
            if (e.unit > 0)
                o[QStringLiteral("unit")] = e.unit;
        } else {
            o[QStringLiteral("scope")] = QStringLiteral("file");
        }
        break;
    }
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace record

// Owns the file on the writing thread: each line is written and flushed as it comes.
class SessionRecord::Writer : public QObject
{
    Q_OBJECT

public:
    Writer(std::unique_ptr<QFile> file, std::shared_ptr<std::atomic<qint64>> queued)
        : m_file(std::move(file))
        , m_queued(std::move(queued))
    {
    }

    void append(const QByteArray &line)
    {
        --*m_queued;
        if (m_failed)
            return;
        if (m_file->write(line) != line.size() || !m_file->flush()) {
            m_failed = true;
            emit failed(reasons::translated(m_file->errorString()));
        }
    }

signals:
    void failed(const QString &reason);

private:
    std::unique_ptr<QFile> m_file;
    std::shared_ptr<std::atomic<qint64>> m_queued;
    bool m_failed = false;
};

namespace {
record::Event happening(record::Event::Kind kind, std::chrono::microseconds at = {})
{
    record::Event e;
    e.kind = kind;
    e.at = at;
    return e;
}

// Lines waiting for the disk beyond this mean it cannot keep up with the line: the
// recording ends rather than fill the memory.
constexpr qint64 kMaxQueued = 100'000;
} // namespace

SessionRecord::SessionRecord(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("session record"));
}

SessionRecord::~SessionRecord()
{
    finish();
}

std::chrono::microseconds SessionRecord::since(nanoseconds now) const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(now - m_startedAt);
}

void SessionRecord::finish()
{
    if (Writer *writer = std::exchange(m_writer, nullptr)) {
        // Behind every line queued before it.
        QMetaObject::invokeMethod(
            writer, [writer] { delete writer; }, Qt::BlockingQueuedConnection);
    }
    m_thread.quit();
    m_thread.wait();
}

bool SessionRecord::start(const QString &path, nanoseconds now)
{
    if (isRecording())
        return false;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = reasons::translated(file->errorString());
        return false;
    }
    m_path = path;
    m_json = path.endsWith(QStringLiteral(".jsonl"), Qt::CaseInsensitive);
    m_startedAt = now;
    m_port = 0;
    m_section = {};
    m_file = {};
    m_queued = std::make_shared<std::atomic<qint64>>(0);
    file->moveToThread(&m_thread);
    m_writer = new Writer(std::move(file), m_queued);
    m_writer->moveToThread(&m_thread);
    connect(m_writer, &Writer::failed, this, &SessionRecord::onWriteFailed);
    m_thread.start();
    record::Event start = happening(record::Event::Kind::Start);
    const QDateTime wall = QDateTime::currentDateTime();
    start.detail = tr("%1, gravação iniciada em %2 (tempos em segundos desde então)")
                       .arg(QCoreApplication::applicationVersion(),
                            wall.toOffsetFromUtc(wall.offsetFromUtc()).toString(Qt::ISODateWithMs));
    write(start);
    return true;
}

void SessionRecord::stop(nanoseconds now)
{
    if (!isRecording())
        return;
    if (m_port != 0)
        endSection(now, record::Event::Kind::StillOpen, QString());
    record::Event end = happening(record::Event::Kind::Figures, since(now));
    end.figures = &m_file;
    end.scope = record::Event::Scope::File;
    write(end);
    finish();
}

void SessionRecord::onWriteFailed(const QString &reason)
{
    if (!isRecording())
        return;
    const QString path = m_path;
    finish();
    emit failed(tr("Não foi possível gravar a sessão em %1: %2.\nA gravação parou; a porta "
                   "serial e o loop continuam.")
                    .arg(path, reason));
}

void SessionRecord::write(const record::Event &event)
{
    if (!m_writer)
        return;
    if (*m_queued > kMaxQueued) {
        onWriteFailed(tr("o disco não acompanha a linha"));
        return;
    }
    QByteArray line = m_json ? record::jsonLine(event) : record::textLine(event).toUtf8();
    line += '\n';
    ++*m_queued;
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, line] { writer->append(line); });
}

void SessionRecord::opened(nanoseconds now, int port, const QString &device, int unit)
{
    if (!isRecording())
        return;
    m_port = port;
    m_unit = unit;
    m_section = {};
    record::Event e = happening(record::Event::Kind::Opened, since(now));
    e.port = port;
    e.unit = unit;
    e.detail = device;
    write(e);
}

void SessionRecord::endSection(nanoseconds now, record::Event::Kind kind, const QString &detail)
{
    if (!isRecording() || m_port == 0)
        return;
    record::Event e = happening(kind, since(now));
    e.port = m_port;
    e.detail = detail;
    write(e);
    record::Event figures = happening(record::Event::Kind::Figures, e.at);
    figures.figures = &m_section;
    figures.scope = record::Event::Scope::Section;
    figures.port = m_port;
    figures.unit = m_unit;
    write(figures);
    m_port = 0;
}

void SessionRecord::closed(nanoseconds now)
{
    endSection(now, record::Event::Kind::Closed, QString());
}

void SessionRecord::lost(nanoseconds now, const QString &reason)
{
    endSection(now, record::Event::Kind::Lost, reason);
}

void SessionRecord::sent(nanoseconds now, const QByteArray &frame)
{
    if (!isRecording())
        return;
    m_section.frameSent();
    m_file.frameSent();
    record::Event e = happening(record::Event::Kind::Sent, since(now));
    e.bytes = frame;
    write(e);
}

void SessionRecord::judged(nanoseconds now, const QList<Outcome> &outcomes)
{
    for (const Outcome &o : outcomes) {
        m_section.judged(o);
        m_file.judged(o);
        if (o.kind == Outcome::Kind::Unanswered) {
            record::Event e = happening(record::Event::Kind::Unanswered, since(now));
            e.bytes = o.frame;
            write(e);
        }
    }
}

void SessionRecord::received(nanoseconds now, const QByteArray &bytes,
                             const QList<Outcome> &outcomes)
{
    if (!isRecording())
        return;
    judged(now, outcomes);
    record::Event e = happening(record::Event::Kind::Received, since(now));
    e.bytes = bytes;
    for (const Outcome &o : outcomes) {
        if (o.kind != Outcome::Kind::Unanswered)
            e.outcomes.append(o);
    }
    write(e);
}

void SessionRecord::expired(nanoseconds now, const QList<Outcome> &outcomes)
{
    if (isRecording())
        judged(now, outcomes);
}

void SessionRecord::tickSkipped(nanoseconds now)
{
    if (!isRecording())
        return;
    m_section.tickSkipped();
    m_file.tickSkipped();
    write(happening(record::Event::Kind::TickSkipped, since(now)));
}

#include "sessionrecord.moc"
