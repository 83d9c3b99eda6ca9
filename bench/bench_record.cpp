// What recording a session costs the window: a far end sends a byte every byte time of a
// 9600-baud line (960 blocks a second, the most lines a record can get), once with the
// record off and once on, alternated in one run. CPU of this process and the longest stall
// of the event loop, side by side.
//   bench_record [seconds per round, default 5] [rounds, default 2]

#include "app/frmpadcom.h"
#include "pty/portpublisher.h"
#include "pty/ptyend.h"
#include "serial/linesettings.h"
#include "stats.h"
#include "testkit/runtimedir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <ctime>
#include <thread>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Round
{
    double cpuPercent = 0;
    double longestStallMs = 0;
};

// One round: the far end writes from a thread of its own, a byte at a time on the line's
// grid (06 and a key in turn), while the event loop runs.
Round run(int fd, int seconds)
{
    std::atomic<bool> stop{false};
    const auto byteTime = LineSettings().byteTime();
    std::thread feeder([&] {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; !stop; ++i) {
            const char b = i % 2 == 0 ? '\x06' : 'k';
            [[maybe_unused]] const auto n = ::write(fd, &b, 1);
            next += byteTime;
            std::this_thread::sleep_until(next);
        }
    });
    double longest = 0;
    QElapsedTimer since;
    since.start();
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longest = std::max(longest, since.nsecsElapsed() / 1e6 - 5.0);
        since.restart();
    });
    heartbeat.start(5);
    const double cpu0 = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double cpu = cpuSeconds() - cpu0;
    stop = true;
    feeder.join();
    return {100.0 * cpu / (clock.elapsed() / 1000.0), longest};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RuntimeDir runtime;
    const int seconds = countArgument(argc, argv, 5);
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 2;
    QTextStream out(stdout);

    PtyEnd peer;
    PortPublisher port;
    port.publish(peer.slavePath(), 1);
    frmPADCOM form;
    form.show();
    form.CMDInicializar_Click();
    if (!form.comm().PortOpen()) {
        out << "could not open the pseudo-terminal\n";
        return 1;
    }
    QTemporaryDir dir;
    QList<double> cpuOff, cpuOn, stallOff, stallOn;
    for (int r = 0; r < rounds; ++r) {
        const Round off = run(peer.masterFd(), seconds);
        cpuOff << off.cpuPercent;
        stallOff << off.longestStallMs;
        form.startRecording(dir.filePath(QStringLiteral("round%1.txt").arg(r)));
        const Round on = run(peer.masterFd(), seconds);
        form.stopRecording();
        cpuOn << on.cpuPercent;
        stallOn << on.longestStallMs;
    }
    const Stats a = Stats::of(cpuOff), b = Stats::of(cpuOn);
    const Stats sa = Stats::of(stallOff), sb = Stats::of(stallOn);
    out << QStringLiteral("Recording at 960 blocks/s, %1 s a round, %2 rounds each way\n")
               .arg(seconds)
               .arg(rounds);
    out << QStringLiteral("  CPU: record off %1 %, on %2 % (on / off %3)\n")
               .arg(a.p50, 0, 'f', 1)
               .arg(b.p50, 0, 'f', 1)
               .arg(b.p50 / std::max(a.p50, 1e-3), 0, 'f', 2);
    out << QStringLiteral("  longest event-loop stall: record off %1 ms, on %2 ms\n")
               .arg(sa.max, 0, 'f', 1)
               .arg(sb.max, 0, 'f', 1);
    return 0;
}
