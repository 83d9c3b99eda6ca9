#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

// The refreshes of the boxes that received bytes change many times a second. A box whose
// content changed asks for the next refresh; every box that asks before it comes shows its
// change in it, so that the window is painted and handed to the display once however many
// blocks arrived meanwhile and however many boxes each changed. A repaint costs its half
// millisecond however little it draws, and a wake-up of the window's thread costs more than
// the block it wakes for:
// - a refresh comes a whole number of screen frames, at least a thirtieth of a second, after
//   the first change it shows, so that the two replies of a loop's tick, a text frame's time
//   apart, are shown in one;
// - it comes with the first change that arrives once that time is up, in the same wake-up;
// - only when no change comes does a timer bring it, one frame later.
class FramePacer : public QObject
{
    Q_OBJECT

public:
    // The one of the window's thread.
    static FramePacer &instance();

    // `show` runs at the next refresh, once however often `asker` asks before it; nothing
    // runs for an asker that is gone by then. Every change asks: a later one may bring the
    // refresh.
    void ask(QObject *asker, std::function<void()> show);

    // From the first change to the refresh that a later change brings.
    std::chrono::milliseconds period() const;
    // The most a change waits to be shown.
    std::chrono::milliseconds longest() const;

private:
    explicit FramePacer(QObject *parent);
    std::chrono::duration<double, std::milli> frame() const;
    void refresh();

    struct Asked
    {
        QPointer<QObject> asker;
        std::function<void()> show;
    };
    std::vector<Asked> m_asked;
    QTimer m_timer;
    QElapsedTimer m_sinceFirst;
    bool m_posted = false;
};
