#pragma once

#include "device.h"
#include "pty/portpublisher.h"
#include "pty/ptyend.h"

#include <QObject>
#include <QString>

// The virtual keyboard on a pseudo-terminal published as a port number: what padsim plays,
// and what the end-to-end tests and the benchmarks start beside PADCOM.
class PtySimulator : public QObject
{
    Q_OBJECT

public:
    explicit PtySimulator(QObject *parent = nullptr);

    // Publishes as `number` (0: the lowest free one). A paced simulator reads as fast as the
    // keyboard's line carries bytes; an unpaced one as fast as bytes come.
    bool start(int number = 0, bool paced = true);
    // A fault to show, set before start(): each program that opens the port finds this many
    // 06 waiting, as if an earlier program had closed it while the keyboard still answered.
    // They are put back whenever the last program closes the port; one that opens it the
    // moment another closed it may find what that one left instead.
    void setStaleReplies(int count) { m_stale = count; }
    QString errorString() const { return m_error; }

    int number() const { return m_publisher.number(); }
    QString devicePath() const { return m_line.slavePath(); }
    const LcdDevice &device() const { return m_keyboard.device(); }
    VirtualKeyboard &keyboard() { return m_keyboard; }
    PtyEnd &line() { return m_line; }

    // Keys pressed on the keyboard: they go to the line as they are.
    void sendKeys(const QByteArray &keys) { m_line.send(keys); }

private:
    void leaveStaleReplies();

    PtyEnd m_line;
    VirtualKeyboard m_keyboard;
    PortPublisher m_publisher;
    QString m_error;
    int m_stale = 0;
};
