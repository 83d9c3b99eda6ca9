#include "device.h"

#include <QElapsedTimer>

#include <algorithm>

using protocol::kSetAddress;

bool LcdDevice::validAddress(uchar address)
{
    return address < kColumns || (address >= kLine2 && address < kLine2 + kColumns);
}

uchar LcdDevice::nextAddress(uchar address)
{
    if (address == kColumns - 1)
        return kLine2;
    if (address == kLine2 + kColumns - 1)
        return 0;
    return address + 1;
}

void LcdDevice::clear()
{
    m_line1 = QByteArray(kColumns, ' ');
    m_line2 = QByteArray(kColumns, ' ');
    m_cursor = 0;
}

void LcdDevice::put(char c)
{
    QByteArray &line = m_cursor < kLine2 ? m_line1 : m_line2;
    line[m_cursor % kLine2] = c;
    m_cursor = nextAddress(m_cursor);
}

void LcdDevice::record(bool accepted)
{
    m_history.append({m_frame, accepted});
    if (m_history.size() > kHistory)
        m_history.removeFirst();
    m_frame.clear();
    m_state = State::Idle;
}

char LcdDevice::accept()
{
    ++m_accepted;
    ++m_changes;
    record(true);
    return char(protocol::kAck);
}

char LcdDevice::refuse()
{
    ++m_refused;
    ++m_changes;
    record(false);
    return char(protocol::kNack);
}

QByteArray LcdDevice::expire(nanoseconds now)
{
    if (m_state != State::Idle && m_gapTimeout && now - m_lastByte > kFrameGap)
        return QByteArray(1, refuse());
    return {};
}

QByteArray LcdDevice::feed(QByteArrayView bytes, nanoseconds now)
{
    QByteArray replies;
    for (const char c : bytes) {
        replies += expire(now);
        m_lastByte = now;
        const auto b = uchar(c);
        m_frame.append(c);
        switch (m_state) {
        case State::Idle:
            if (b == protocol::kCommandMarker)
                m_state = State::Command;
            else if (b == protocol::kTextMarker)
                m_state = State::Length;
            else
                replies += refuse(); // a stray byte outside any frame
            break;
        case State::Command:
            if (refusedByFault()) {
                replies += refuse();
            } else if (b == uchar(protocol::Command::Clear)) {
                clear();
                replies += accept();
            } else if ((b & kSetAddress) && validAddress(b & ~kSetAddress)) {
                m_cursor = b & ~kSetAddress;
                replies += accept();
            } else {
                replies += refuse();
            }
            break;
        case State::Length:
            m_expected = b;
            if (m_expected == 0)
                replies += refusedByFault() ? refuse() : accept();
            else
                m_state = State::Text;
            break;
        case State::Text:
            // The text is shown only once the frame is whole: a refused frame shows nothing.
            if (m_frame.size() == protocol::kTextHeaderBytes + m_expected) {
                if (refusedByFault()) {
                    replies += refuse();
                    break;
                }
                for (const char t : m_frame.sliced(protocol::kTextHeaderBytes))
                    put(t);
                replies += accept();
            }
            break;
        }
    }
    return replies;
}

VirtualKeyboard::VirtualKeyboard(QObject *parent)
    : QObject(parent)
{
    QElapsedTimer clock;
    clock.start();
    m_clock = [clock] {
        return LcdDevice::nanoseconds(clock.nsecsElapsed());
    };
    m_gapTimer.setSingleShot(true);
    m_gapTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_gapTimer, &QTimer::timeout, this, &VirtualKeyboard::expire);
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, &VirtualKeyboard::sendDue);
}

void VirtualKeyboard::setFaults(const Faults &faults)
{
    setReplyDelay(std::chrono::milliseconds(faults.replyDelayMs));
    setRefuseEvery(faults.refuseEvery);
    m_device.setGapTimeout(!faults.noGap);
    m_faults = ReplyFaults(faults);
}

void VirtualKeyboard::queue(const QByteArray &replies, LcdDevice::nanoseconds due)
{
    const QByteArray bytes = m_faults.shape(replies);
    if (!bytes.isEmpty())
        m_replies.append({due, bytes});
}

void VirtualKeyboard::sendDue()
{
    const auto at = now();
    QByteArray due;
    while (!m_replies.isEmpty() && m_replies.constFirst().due <= at)
        due += m_replies.takeFirst().bytes;
    if (!m_replies.isEmpty())
        m_replyTimer.start(
            std::max(std::chrono::ceil<std::chrono::milliseconds>(m_replies.constFirst().due - at),
                     std::chrono::milliseconds{0}));
    if (!due.isEmpty())
        emit reply(due);
}

void VirtualKeyboard::finish(quint64 changesBefore)
{
    if (const auto deadline = m_device.frameDeadline()) {
        const auto wait = *deadline - now();
        m_gapTimer.start(std::max(std::chrono::duration_cast<std::chrono::milliseconds>(wait),
                                  std::chrono::milliseconds{0})
                         + std::chrono::milliseconds{1});
    } else {
        m_gapTimer.stop();
    }
    sendDue();
    if (m_device.changes() != changesBefore)
        emit changed();
}

void VirtualKeyboard::receive(QByteArrayView bytes)
{
    const quint64 before = m_device.changes();
    const auto at = now();
    // Had the line stopped for a gap, the timer would have found it empty and refused the
    // frame already; a read that comes later than that only came late.
    m_device.heard(at);
    // A keyboard answers a frame once its last byte came off the line, late ones a while
    // after.
    m_line.read(at, m_bytesWaited);
    for (const char b : bytes) {
        const auto offLine = m_line.next();
        const QByteArray replies = m_device.feed(QByteArrayView(&b, 1), at);
        if (!replies.isEmpty())
            queue(replies, offLine + m_replyDelay);
    }
    m_bytesWaited = m_bytesWaiting && m_bytesWaiting();
    finish(before);
}

void VirtualKeyboard::expire()
{
    const quint64 before = m_device.changes();
    const auto at = now();
    if (m_bytesWaiting && m_bytesWaiting())
        m_device.heard(at);
    queue(m_device.expire(at), at + m_replyDelay);
    finish(before);
}
