#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <memory>

// The far end of a pseudo-terminal: the simulator's side of the line. Reads no faster than
// a real line would deliver (by default 960 bytes a second, 9600 baud at 10 bits a byte),
// so that the sender meets the back-pressure of real hardware.
class PtyHost : public QObject
{
    Q_OBJECT

public:
    static constexpr double kLineBytesPerSecond = 960.0;

    explicit PtyHost(QObject *parent = nullptr);
    ~PtyHost() override;

    bool open();
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }

    // 0 reads as fast as bytes come.
    void setReadRate(double bytesPerSecond) { m_rate = bytesPerSecond; }

    void send(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);

private:
    void onReadable();
    void onWritable();
    void refill();
    void onSlaveClosed();

    // Bytes the pacing may read in one go: a few milliseconds of line time.
    static constexpr double kBurst = 16.0;

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // Told when a program closes its side, so that exclusive mode a killed client left set
    // does not lock every later client out.
    int m_closeWatch = -1;
    std::unique_ptr<QSocketNotifier> m_closeNotifier;
    QByteArray m_pendingWrite;

    double m_rate = kLineBytesPerSecond;
    double m_tokens = kBurst;
    QElapsedTimer m_clock;
    QTimer m_resume;
};
