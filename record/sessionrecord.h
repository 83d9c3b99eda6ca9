#pragma once

#include "figures.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>

namespace record {

// One thing that happened on the line, as the record keeps it.
struct Event
{
    enum class Kind { Start, Opened, Closed, Lost, Sent, Received, TickSkipped, Figures };

    Kind kind = Kind::Sent;
    std::chrono::microseconds at{0};            // since the record began
    QByteArray bytes;                           // Sent, Received
    QList<std::chrono::microseconds> latencies; // Received: one per reply among the bytes
    int port = 0;                               // Opened, Lost
    QString detail; // Start: wall-clock time and version; Opened: device; Lost: why
    const SessionFigures *figures = nullptr; // Figures
};

// The bytes as the logs show them: a character for each, control bytes by the names the
// logs draw ("<ACK>"), bytes without a character by their code ("<81>").
QString shownText(QByteArrayView bytes);

// One line for a person: time in seconds, direction, hex, text, latency.
QString textLine(const Event &event);
// The same event as one JSON object, for scripts.
QByteArray jsonLine(const Event &event);
// The session's figures as the JSON of a record and of padtest's report give them.
QJsonObject figuresJson(const SessionFigures &figures);

} // namespace record

// Writes what happens on the line to a file, a line per event, as it happens: a crash or a
// pulled cable loses nothing already seen. Plain text, or JSON Lines for a name ending in
// ".jsonl". The file is written on a thread of its own, so a slow or full disk never holds
// up the line; it fails alone: the recording ends, the port and the loop go on.
class SessionRecord : public QObject
{
    Q_OBJECT

public:
    using nanoseconds = std::chrono::nanoseconds;

    explicit SessionRecord(QObject *parent = nullptr);
    ~SessionRecord() override;

    // `now` is the port's clock, which every later event is given in.
    bool start(const QString &path, nanoseconds now);
    // Ends the record with the session's figures.
    void stop(nanoseconds now, const SessionFigures &figures);
    bool isRecording() const { return m_writer != nullptr; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    void opened(nanoseconds now, int port, const QString &device);
    void closed(nanoseconds now, int port);
    void lost(nanoseconds now, int port, const QString &reason);
    void sent(nanoseconds now, const QByteArray &frame);
    void received(nanoseconds now, const QByteArray &bytes,
                  const QList<std::chrono::microseconds> &latencies);
    void tickSkipped(nanoseconds now);

signals:
    // The file could not be written: the recording has ended. In the user's language.
    void failed(const QString &message);

private:
    class Writer;
    void write(const record::Event &event);
    void onWriteFailed(const QString &reason);
    // Waits for the lines already queued, closes the file and ends the thread.
    void finish();

    QString m_path;
    QString m_error;
    bool m_json = false;
    nanoseconds m_startedAt{0};
    QThread m_thread;
    Writer *m_writer = nullptr;
    std::shared_ptr<std::atomic<qint64>> m_queued;
};
