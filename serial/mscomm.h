#pragma once

#include "linesettings.h"
#include "txline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <chrono>

// The program's serial control: owns one port, raises OnComm on the UI thread when bytes
// wait, hands them out in blocks of at most the receive buffer, and queues writes in a
// bounded transmit buffer that drains at the line's own speed.
class MSComm : public QObject
{
    Q_OBJECT

public:
    enum Event : qint16 {
        comEvReceive = 2,
        comEventTxFull = 1010,
    };
    enum class PortState { Closed, Open, Lost };
    enum class OutputResult { Queued, PortClosed, BufferFull };

    static constexpr qsizetype kInBufferSize = 1024;
    static constexpr qsizetype kOutBufferSize = 512;

    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    // Each setter returns false on failure and leaves the reason in errorString().
    QString Settings() const { return m_settings.toString(); }
    bool setSettings(const QString &settings);

    qint16 InputLen() const { return m_inputLen; }
    bool setInputLen(qint16 length);

    qint16 CommPort() const { return m_commPort; }
    bool setCommPort(qint16 port);

    bool PortOpen() const { return m_state == PortState::Open; }
    bool setPortOpen(bool open);

    bool DTREnable() const { return m_dtr; }
    bool setDTREnable(bool enable);
    bool RTSEnable() const { return m_rts; }
    bool setRTSEnable(bool enable);

    // One frame, queued whole or not at all; never waits for the line.
    OutputResult Output(const QByteArray &bytes);
    QByteArray Input();
    qint16 CommEvent() const { return m_commEvent; }

    qsizetype OutBufferCount() const;
    qsizetype InBufferCount() const;

    PortState state() const { return m_state; }
    QString deviceName() const { return m_port.portName(); }
    QString errorString() const { return m_error; }

signals:
    void OnComm();
    // The open port failed under us (device pulled, far end gone); it is closed now.
    void portLost(const QString &device, const QString &reason);

private:
    void onPortError(QSerialPort::SerialPortError error);
    void scheduleEvent();
    void raiseEvent();
    void pumpTx();
    bool setLine(bool (QSerialPort::*setter)(bool), bool enable);
    bool fail(const QString &reason);
    void shutDown(PortState next);
    std::chrono::nanoseconds now() const;
    // Bytes handed to the system that the line has not carried yet.
    qsizetype aheadOfWire(std::chrono::nanoseconds t) const;

    // At most this many bytes are handed to the system ahead of the wire, so that a stop
    // silences the line within the transmit buffer's time, never the kernel's.
    static constexpr qsizetype kWireWindow = 16;

    QSerialPort m_port;
    LineSettings m_settings;
    qint16 m_inputLen = 0;
    qint16 m_commPort = 1;
    bool m_dtr = true;
    bool m_rts = true;
    PortState m_state = PortState::Closed;
    qint16 m_commEvent = 0;
    QString m_error;

    QTimer m_eventTimer;
    bool m_inHandler = false;
    bool m_txFullPending = false;

    QByteArray m_txQueue;
    TxLine m_line;
    QElapsedTimer m_clock;
    QTimer m_txTimer;
};
