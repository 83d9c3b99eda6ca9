#include "framepacer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

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

std::chrono::milliseconds FramePacer::period() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double hertz = screen && screen->refreshRate() >= 10 ? screen->refreshRate() : 60;
    const std::chrono::duration<double, std::milli> frame = 1000ms / hertz;
    const double frames = std::ceil(kLeast / frame - 1e-6);
    return std::chrono::ceil<std::chrono::milliseconds>(frame * frames);
}

void FramePacer::ask(QObject *asker, std::function<void()> show)
{
    for (const Asked &a : m_asked) {
        if (a.asker == asker)
            return;
    }
    m_asked.push_back({asker, std::move(show)});
    if (!m_timer.isActive())
        m_timer.start(period());
}

void FramePacer::refresh()
{
    std::vector<Asked> asked;
    asked.swap(m_asked);
    for (const Asked &a : asked) {
        if (a.asker)
            a.show();
    }
}
