#include "simulator.h"

#include "serial/linesettings.h"

PtySimulator::PtySimulator(QObject *parent)
    : QObject(parent)
{
    connect(&m_line, &PtyEnd::arrived, &m_keyboard, &VirtualKeyboard::receive);
    connect(&m_keyboard, &VirtualKeyboard::reply, &m_line, &PtyEnd::send);
    m_keyboard.setBytesWaiting([this] { return m_line.bytesWaiting(); });
}

void PtySimulator::leaveStaleReplies()
{
    // What a program left unread goes with it: each one finds the same replies, and no more.
    m_line.discardUnread();
    m_line.send(QByteArray(m_stale, char(protocol::kAck)));
}

bool PtySimulator::start(int number, bool paced)
{
    if (!m_line.isOpen()) {
        m_error = tr("não foi possível criar a pseudo-porta: %1").arg(m_line.errorString());
        return false;
    }
    m_line.makeRaw();
    m_line.setReadRate(paced ? LineSettings().bytesPerSecond() : 0.0);
    m_keyboard.setLineByteTime(paced ? LineSettings().byteTime() : LcdDevice::nanoseconds{0});
    if (m_stale > 0) {
        // Before the port is published: the first program to open it finds them too.
        leaveStaleReplies();
        connect(&m_line, &PtyEnd::released, this, &PtySimulator::leaveStaleReplies);
    }
    if (!m_publisher.publish(m_line.slavePath(), number)) {
        m_error = m_publisher.errorString();
        return false;
    }
    return true;
}
