#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

// The refreshes of the boxes that received bytes change many times a second. A box whose
// content changed asks for the next refresh; every box that asks before it comes shows its
// change in it, so that the window is painted and handed to the display once however many
// blocks arrived meanwhile and however many boxes each changed. A refresh comes a whole
// number of screen frames, at least a thirtieth of a second, after the first change asked
// for it: a repaint costs its half millisecond however little it draws, and the two
// replies of a loop's tick, a text frame's time apart, are shown in one.
class FramePacer : public QObject
{
    Q_OBJECT

public:
    // The one of the window's thread.
    static FramePacer &instance();

    // `show` runs at the next refresh, once however often `asker` asks before it; nothing
    // runs for an asker that is gone by then.
    void ask(QObject *asker, std::function<void()> show);

    // From the first change to its refresh.
    std::chrono::milliseconds period() const;

private:
    explicit FramePacer(QObject *parent);
    void refresh();

    struct Asked
    {
        QPointer<QObject> asker;
        std::function<void()> show;
    };
    std::vector<Asked> m_asked;
    QTimer m_timer;
};
