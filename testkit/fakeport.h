#pragma once

#include "serial/portdevice.h"

#include <QStringList>

// A port that records what the control asks of it, for what no pseudo-terminal can show:
// modem lines, a system queue that holds bytes, a COM port that fails.
class FakePort : public PortDevice
{
    Q_OBJECT

public:
    QStringList calls;
    bool dtr = true; // a port raises both lines when it opens
    bool rts = true;
    qint64 heldBySystem = 0;
    QByteArray written;
    QByteArray incoming;
    bool refuseOpen = false;

    bool open(const QString &device, const LineSettings &settings) override
    {
        calls << QStringLiteral("open %1 %2").arg(device, settings.toString());
        if (refuseOpen)
            return false;
        m_open = true;
        dtr = rts = true;
        return true;
    }
    void close() override
    {
        if (m_open)
            calls << QStringLiteral("close");
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    bool apply(const LineSettings &settings) override
    {
        calls << QStringLiteral("apply %1").arg(settings.toString());
        return true;
    }
    bool setDataTerminalReady(bool on) override
    {
        calls << QStringLiteral("dtr %1").arg(on);
        dtr = on;
        return m_open;
    }
    bool setRequestToSend(bool on) override
    {
        calls << QStringLiteral("rts %1").arg(on);
        rts = on;
        return m_open;
    }
    bool write(const QByteArray &bytes) override
    {
        calls << QStringLiteral("write %1").arg(bytes.size());
        written += bytes;
        return m_open;
    }
    QByteArray read(qint64 maxBytes) override
    {
        const QByteArray block = incoming.left(maxBytes);
        incoming.remove(0, block.size());
        return block;
    }
    qint64 bytesAvailable() const override { return incoming.size(); }
    qint64 bytesForLine() const override { return heldBySystem; }
    void discardOutput() override
    {
        calls << QStringLiteral("discard");
        heldBySystem = 0;
    }
    QString errorString() const override { return QStringLiteral("recusada"); }

    void arrive(const QByteArray &bytes)
    {
        incoming += bytes;
        emit readyRead();
    }
    void fail(Failure failure) { emit failed(failure, QStringLiteral("falhou")); }

private:
    bool m_open = false;
};
