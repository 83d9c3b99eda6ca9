#include "sessionrecord.h"

#include "text/boxtext.h"
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

QString textLine(const Event &e)
{
    const QString at = seconds(e.at);
    switch (e.kind) {
    case Event::Kind::Start:
        return QStringLiteral("# PADCOM %1").arg(e.detail);
    case Event::Kind::Opened:
        return tr("%1  **  porta %2 aberta: %3").arg(at, QString::number(e.port), e.detail);
    case Event::Kind::Closed:
        return tr("%1  **  porta %2 fechada").arg(at, QString::number(e.port));
    case Event::Kind::Lost:
        return tr("%1  **  porta %2 perdida: %3").arg(at, QString::number(e.port), e.detail);
    case Event::Kind::TickSkipped:
        return tr("%1  **  tique pulado").arg(at);
    case Event::Kind::Sent:
        return QStringLiteral("%1  ->  %2  \"%3\"").arg(at, hexOf(e.bytes), shownText(e.bytes));
    case Event::Kind::Received: {
        QString line
            = QStringLiteral("%1  <-  %2  \"%3\"").arg(at, hexOf(e.bytes), shownText(e.bytes));
        QStringList latencies;
        for (const auto l : e.latencies)
            latencies << millisecondsText(l);
        if (!latencies.isEmpty())
            line += tr("  latência %1 ms").arg(latencies.join(QStringLiteral(", ")));
        return line;
    }
    case Event::Kind::Figures:
        return QStringLiteral("# ") + e.figures->summary().replace(u'\n', QStringLiteral("\n# "));
    }
    return {};
}

QJsonObject figuresJson(const SessionFigures &f)
{
    QJsonObject o{{QStringLiteral("frames_sent"), f.framesSent()},
                  {QStringLiteral("accepted"), f.accepted()},
                  {QStringLiteral("refused"), f.refused()},
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
    switch (e.kind) {
    case Event::Kind::Start:
        o[QStringLiteral("event")] = QStringLiteral("start");
        o[QStringLiteral("detail")] = e.detail;
        break;
    case Event::Kind::Opened:
        o[QStringLiteral("event")] = QStringLiteral("open");
        o[QStringLiteral("port")] = e.port;
        o[QStringLiteral("device")] = e.detail;
        break;
    case Event::Kind::Closed:
        o[QStringLiteral("event")] = QStringLiteral("close");
        o[QStringLiteral("port")] = e.port;
        break;
    case Event::Kind::Lost:
        o[QStringLiteral("event")] = QStringLiteral("lost");
        o[QStringLiteral("port")] = e.port;
        o[QStringLiteral("reason")] = e.detail;
        break;
    case Event::Kind::TickSkipped:
        o[QStringLiteral("event")] = QStringLiteral("skip");
        break;
    case Event::Kind::Sent:
        o[QStringLiteral("event")] = QStringLiteral("tx");
        withBytes();
        break;
    case Event::Kind::Received: {
        o[QStringLiteral("event")] = QStringLiteral("rx");
        withBytes();
        QJsonArray latencies;
        for (const auto l : e.latencies)
            latencies.append(qint64(l.count()));
        o[QStringLiteral("latency_us")] = latencies;
        break;
    }
    case Event::Kind::Figures: {
        const QJsonObject figures = figuresJson(*e.figures);
        for (auto it = figures.begin(); it != figures.end(); ++it)
            o.insert(it.key(), it.value());
        o[QStringLiteral("event")] = QStringLiteral("figures");
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
            emit failed(m_file->errorString());
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
std::chrono::microseconds since(std::chrono::nanoseconds now, std::chrono::nanoseconds start)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(now - start);
}

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
        m_error = file->errorString();
        return false;
    }
    m_path = path;
    m_json = path.endsWith(QStringLiteral(".jsonl"), Qt::CaseInsensitive);
    m_startedAt = now;
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

void SessionRecord::stop(nanoseconds now, const SessionFigures &figures)
{
    if (!isRecording())
        return;
    record::Event end = happening(record::Event::Kind::Figures);
    end.at = since(now, m_startedAt);
    end.figures = &figures;
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

void SessionRecord::opened(nanoseconds now, int port, const QString &device)
{
    record::Event e = happening(record::Event::Kind::Opened, since(now, m_startedAt));
    e.port = port;
    e.detail = device;
    write(e);
}

void SessionRecord::closed(nanoseconds now, int port)
{
    record::Event e = happening(record::Event::Kind::Closed, since(now, m_startedAt));
    e.port = port;
    write(e);
}

void SessionRecord::lost(nanoseconds now, int port, const QString &reason)
{
    record::Event e = happening(record::Event::Kind::Lost, since(now, m_startedAt));
    e.port = port;
    e.detail = reason;
    write(e);
}

void SessionRecord::sent(nanoseconds now, const QByteArray &frame)
{
    record::Event e = happening(record::Event::Kind::Sent, since(now, m_startedAt));
    e.bytes = frame;
    write(e);
}

void SessionRecord::received(nanoseconds now, const QByteArray &bytes,
                             const QList<std::chrono::microseconds> &latencies)
{
    record::Event e = happening(record::Event::Kind::Received, since(now, m_startedAt));
    e.bytes = bytes;
    e.latencies = latencies;
    write(e);
}

void SessionRecord::tickSkipped(nanoseconds now)
{
    write(happening(record::Event::Kind::TickSkipped, since(now, m_startedAt)));
}

#include "sessionrecord.moc"
