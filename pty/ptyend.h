#pragma once

#include "pacing.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <memory>
#include <termios.h>

// The far end of a pseudo-terminal: the keyboard's side of the line. A program opens the
// slave (published as a port number) as it would a serial port; what it writes arrives
// here, and what is sent here reaches it.
// It reads no faster than its pacing allows, writes through a bounded queue (a far end
// that is never read drops what does not fit, as a full line would), and lets the next client in
// after one that died holding the port in exclusive mode.
class PtyEnd : public QObject
{
    Q_OBJECT

public:
    // Replies queued beyond this are dropped.
    static constexpr qsizetype kMaxPendingWrite = qsizetype(64) * 1024;

    explicit PtyEnd(QObject *parent = nullptr);
    ~PtyEnd() override;

    bool isOpen() const { return m_master >= 0; }
    QString errorString() const { return m_error; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    termios slaveTermios() const;

    // Raw until a program opens it: no echo, no CR/LF translation of early key bytes.
    void makeRaw();
    // Reads no faster than this many bytes a second (0: as fast as they come).
    void setReadRate(double bytesPerSecond) { m_pacing.setRate(bytesPerSecond); }

    // Whether bytes the program wrote wait here, not yet read.
    bool bytesWaiting() const;
    // Throws away what was sent and waits for a program to read it.
    void discardUnread();

    // Queued; goes out as the terminal takes it, while the event loop runs. False when the
    // queue is full and the bytes were dropped.
    bool send(const QByteArray &bytes);
    qsizetype pendingBytes() const { return m_pendingWrite.size(); }

    // Someone else reads the master side from now on.
    void stopReading();
    // The far end goes away: the program's side of the line breaks.
    void closeMaster();

signals:
    void arrived(const QByteArray &bytes);
    // The last program that had the port open closed it (or died).
    void released();

private:
    void onReadable();
    void onWritable();
    void onSlaveClosed();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    int m_closeWatch = -1;
    std::unique_ptr<QSocketNotifier> m_closeNotifier;
    QByteArray m_pendingWrite;
    Pacing m_pacing;
    QTimer m_resume;
};
