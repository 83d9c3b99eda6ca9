#include "framepacer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

using namespace std::chrono_literals;

// As often as anyone reads a log going by; the old text boxes refreshed 25 times a second.
constexpr std::chrono::duration<double, std::milli> kLeast = 1000ms / 30.0;

} // namespace

FramePacer &FramePacer::instance()
{
    // As long as the application: a box may ask until its last event.
    static QPointer<FramePacer> pacer;
    if (!pacer)
        pacer = new FramePacer(QCoreApplication::instance());
    return *pacer;
}

FramePacer::FramePacer(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FramePacer::refresh);
}

std::chrono::duration<double, std::milli> FramePacer::frame() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double hertz = screen && screen->refreshRate() >= 10 ? screen->refreshRate() : 60;
    return 1000ms / hertz;
}

std::chrono::milliseconds FramePacer::period() const
{
    const double frames = std::ceil(kLeast / frame() - 1e-6);
    return std::chrono::ceil<std::chrono::milliseconds>(frame() * frames);
}

std::chrono::milliseconds FramePacer::longest() const
{
    return period() + std::chrono::ceil<std::chrono::milliseconds>(frame());
}

void FramePacer::ask(QObject *asker, std::function<void()> show)
{
    if (std::none_of(m_asked.cbegin(), m_asked.cend(),
                     [asker](const Asked &a) { return a.asker == asker; }))
        m_asked.push_back({asker, std::move(show)});
    if (m_posted)
        return;
    if (!m_timer.isActive()) {
        // The first change since the last refresh.
        m_sinceFirst.start();
        m_timer.start(longest());
        return;
    }
    if (std::chrono::milliseconds(m_sinceFirst.elapsed()) >= period()) {
        // Once the event at hand is done: the other boxes it changes join this refresh.
        m_timer.stop();
        m_posted = true;
        QMetaObject::invokeMethod(this, &FramePacer::refresh, Qt::QueuedConnection);
    }
}

void FramePacer::refresh()
{
    m_posted = false;
    m_timer.stop();
    std::vector<Asked> asked;
    asked.swap(m_asked);
    for (const Asked &a : asked) {
        if (a.asker)
            a.show();
    }
}
