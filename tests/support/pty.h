#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <termios.h>

// The far end of a real pseudo-terminal: what the program writes arrives here, with the
// time it arrived; what the test sends arrives at the program.
class PtyPeer : public QObject
{
    Q_OBJECT

public:
    struct Chunk
    {
        QByteArray bytes;
        std::chrono::nanoseconds at;
    };

    PtyPeer();
    ~PtyPeer() override;

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }
    termios slaveTermios() const;

    // Queued; goes out as the terminal takes it, while the event loop runs.
    void send(const QByteArray &bytes);
    qsizetype pendingBytes() const { return m_pending.size(); }
    QByteArray received() const { return m_received; }
    const QList<Chunk> &chunks() const { return m_chunks; }
    void clear();

    // Reads no faster than this many bytes a second (0: as fast as they come).
    void setReadRate(double bytesPerSecond) { m_rate = bytesPerSecond; }
    // Someone else reads the master side from now on (a LineRecorder).
    void stopReading() { m_notifier.reset(); }
    // The far end goes away: the program's side of the line breaks.
    void closeMaster();

private:
    void onReadable();
    void flush();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QByteArray m_pending;
    QByteArray m_received;
    QList<Chunk> m_chunks;
    double m_rate = 0;
    std::chrono::nanoseconds m_start;
    double m_tokens = 0;
};

// A private runtime directory for the test's whole run, so that published port links
// never meet a user's or another test's.
class RuntimeDir
{
public:
    RuntimeDir();
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// Makes port number `n` name `device` through a hand-made link, as a user would.
bool linkPort(int number, const QString &device);

// Seconds on a monotonic clock, for timestamps of arrivals.
std::chrono::nanoseconds monotonicNow();
