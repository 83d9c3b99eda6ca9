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
    enum class Kind {
        Start,
        Opened,
        Closed,
        Lost,
        StillOpen, // the recording ended with the port open
        Sent,
        Received,
        Unanswered,
        TickSkipped,
        Figures,
    };
    enum class Scope { Section, File }; // Figures: of one opening of the port, or of the file

    Kind kind = Kind::Sent;
    std::chrono::microseconds at{0};  // since the record began
    QByteArray bytes;                 // Sent, Received, Unanswered (the frame)
    QList<replies::Outcome> outcomes; // Received: what its bytes were
    int port = 0;                     // Opened, Closed, Lost, StillOpen, Figures
    int unit = 0;                     // Opened, Figures: the keyboard's number on a station, if any
    QString detail; // Start: wall-clock time and version; Opened: device; Lost: why
    const Figures *figures = nullptr; // Figures
    Scope scope = Scope::File;        // Figures
};

// The bytes as the logs show them: a character for each, control bytes by the names the
// logs draw ("<ACK>"), bytes without a character by their code ("<81>").
QString shownText(QByteArrayView bytes);

// One line (or, for figures, a few) for a person: time in seconds, direction, hex, text,
// latency.
QString textLine(const Event &event);
// The same event as one JSON object, for scripts.
QByteArray jsonLine(const Event &event);
// Figures as the JSON of a record and of padtest's report give them.
QJsonObject figuresJson(const Figures &figures);

} // namespace record

// Writes what happens on the line to a file, a line per event, as it happens: a crash or a
// pulled cable loses nothing already seen. Plain text, or JSON Lines for a name ending in
// ".jsonl". Every opening of the port is a section that ends, at its close or loss, with its
// own figures; the file ends with the figures of all it holds. The file is written on a
// thread of its own, so a slow or full disk never holds up the line; it fails alone: the
// recording ends, the port and the loop go on.
class SessionRecord : public QObject
{
    Q_OBJECT

public:
    using nanoseconds = std::chrono::nanoseconds;
    using Outcome = replies::Outcome;

    explicit SessionRecord(QObject *parent = nullptr);
    ~SessionRecord() override;

    // `now` is the port's clock, which every later event is given in.
    bool start(const QString &path, nanoseconds now);
    // Ends the record: the section still open, if any, with its figures, then the file's.
    void stop(nanoseconds now);
    bool isRecording() const { return m_writer != nullptr; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // `unit`: the number of the keyboard this opening tests, on a station; 0 for none.
    void opened(nanoseconds now, int port, const QString &device, int unit = 0);
    void closed(nanoseconds now);
    void lost(nanoseconds now, const QString &reason);
    void sent(nanoseconds now, const QByteArray &frame);
    // Bytes received at `now`, with what the reply matcher made of them (frames it gave up
    // as unanswered on the way included).
    void received(nanoseconds now, const QByteArray &bytes, const QList<Outcome> &outcomes);
    // Frames given up as unanswered at `now`.
    void expired(nanoseconds now, const QList<Outcome> &outcomes);
    void tickSkipped(nanoseconds now);

    const Figures &sectionFigures() const { return m_section; }
    const Figures &fileFigures() const { return m_file; }

signals:
    // The file could not be written: the recording has ended. In the user's language.
    void failed(const QString &message);

private:
    class Writer;
    void write(const record::Event &event);
    void endSection(nanoseconds now, record::Event::Kind kind, const QString &detail);
    void judged(nanoseconds now, const QList<Outcome> &outcomes);
    void onWriteFailed(const QString &reason);
    // Waits for the lines already queued, closes the file and ends the thread.
    void finish();
    std::chrono::microseconds since(nanoseconds now) const;

    QString m_path;
    QString m_error;
    bool m_json = false;
    nanoseconds m_startedAt{0};
    QThread m_thread;
    Writer *m_writer = nullptr;
    std::shared_ptr<std::atomic<qint64>> m_queued;
    int m_port = 0; // of the section open, 0 for none
    int m_unit = 0;
    Figures m_section;
    Figures m_file;
};
