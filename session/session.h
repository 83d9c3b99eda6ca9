#pragma once

#include "protocol/replies.h"
#include "record/figures.h"
#include "record/sessionrecord.h"
#include "serial/mscomm.h"
#include "serial/portsetup.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

// Handle one keyboard on one serial port: open and close it, send frames and the loop, match
// every reply to its frame, keep the keyboard's figures and the record.
// The line's events reach this object once, in the order they happened, and each goes first
// to the reply matcher, the figures and the record, then to the front end (the window, an
// unattended test), which thus never has to pull anything back out of the line.
class Session : public QObject
{
    Q_OBJECT

public:
    using nanoseconds = std::chrono::nanoseconds;
    using Event = MSComm::Event;
    using Outcome = replies::Outcome;

    // The system's ports.
    explicit Session(QObject *parent = nullptr);
    // Another device (tests).
    Session(std::unique_ptr<PortDevice> device, QObject *parent = nullptr);
    ~Session() override;

    MSComm &comm() { return m_comm; }
    const MSComm &comm() const { return m_comm; }

    // Opens the port the user names, as the window does; the figures start again.
    portsetup::Outcome open(const QString &typedNumber);
    // The record names the openings from now on by this number (a station's keyboards); 0
    // names none.
    void setOpeningNumber(int number) { m_openingNumber = number; }
    // Closes the port: the frame on the line finishes, and everything the line did until now
    // is judged and recorded before this returns.
    void close();
    bool isOpen() const { return m_open; }

    // The longest a reply may take before its frame counts as unanswered.
    void setReplyBound(std::chrono::milliseconds bound) { m_matcher.setBound(bound); }
    // The keyboard's figures since the port was last opened.
    const Figures &figures() const { return m_figures; }
    // Frames handed to the system whose replies are still awaited.
    qsizetype waiting() const { return m_matcher.waiting(); }
    // Nothing waits to go out and no reply is awaited.
    bool settled() const;

    // The loop, ticking on the line's thread. A plan that holds after its variant tick is
    // released here once every frame sent has been answered or given up.
    void setLoopPlan(const MSComm::LoopPlan &plan);
    void setLoopInterval(int ms);

    // Records the session to `path` (JSON Lines for a name ending in .jsonl) until
    // stopRecording(); the reason is in recordError() when it cannot.
    bool startRecording(const QString &path);
    void stopRecording();
    const SessionRecord &record() const { return m_record; }

signals:
    // A received block (comEvReceive) or a refused frame (comEventTxFull), after the
    // matcher, the figures and the record have had it.
    void OnComm(const Session::Event &event);
    void ticked(const Session::Event &tick);
    // What the matcher made of a block, or of frames whose replies became overdue.
    void judged(const QList<Session::Outcome> &outcomes);
    // The port failed under us and is closed; the reason is in the user's language.
    void portLost(const QString &device, const QString &reason);
    void recordFailed(const QString &message);

private:
    void wire();
    void onEvents(const MSComm::Events &batch);
    void handle(const Event &event);
    void expire();
    void armDeadline();
    void releaseHeldLoop();
    void ended();

    MSComm m_comm;
    replies::Matcher m_matcher;
    Figures m_figures;
    SessionRecord m_record;
    QTimer m_deadline;
    bool m_open = false;
    // Closing: what the line hands over now is judged and recorded, but the front end that
    // closed the port hears no more of it.
    bool m_closing = false;
    bool m_holds = false;    // the loop's plan holds after its variant
    qint64 m_framesSeen = 0; // since the open
    int m_openingNumber = 0;
};
