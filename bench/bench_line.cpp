// The line at its physical limit: the virtual keyboard (its own process, reading 960 bytes a
// second as a 9600-baud line delivers) and a loop that asks for more than that (80
// characters every 20 ms). Prints one JSON line for scripts/bench.sh.
//   bench_line [seconds, default 30]

#include "app/frmpadcom.h"
#include "app/widgets/textbox.h"
#include "stats.h"
#include "testkit/runtimedir.h"
#include "testkit/simprocess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

namespace {

// CPU seconds and resident MiB of a process, from /proc.
std::pair<double, double> usage(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    const double cpu = (fields.value(12).toDouble() + fields.value(13).toDouble())
                       / double(::sysconf(_SC_CLK_TCK));
    double rss = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            rss = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return {cpu, rss};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RuntimeDir runtime;
    const int seconds = countArgument(argc, argv, 30, 2);

    SimulatorProcess sim;
    if (!sim.start(QStringLiteral(PADSIM_PATH)))
        return 1;
    frmPADCOM form;
    form.findChild<QLineEdit *>(QStringLiteral("Text5"))->setText(QString::number(sim.number()));
    form.CMDInicializar_Click();
    form.findChild<TextBox *>(QStringLiteral("Text1"))
        ->setText(QStringLiteral("0123456789").repeated(8));
    form.findChild<QLineEdit *>(QStringLiteral("Text4"))->setText(QStringLiteral("20"));

    // Let the keyboard settle, then count from a known point.
    QTest::qWait(300);
    const int acceptedBefore = sim.counts().first;
    const auto simBefore = usage(sim.process().processId());
    form.Command7_Click();
    QElapsedTimer clock;
    clock.start();
    qsizetype mostWaiting = 0;
    while (clock.elapsed() < seconds * 1000) {
        QTest::qWait(5);
        mostWaiting = std::max(mostWaiting, form.comm().OutBufferCount());
    }
    const auto simAfter = usage(sim.process().processId());
    const double runSeconds = clock.nsecsElapsed() / 1e9;
    const int acceptedAtStop = sim.counts().first;
    form.Command7_Click(); // the stop click

    // The time until the keyboard took the last frame: its count stops changing.
    QElapsedTimer sinceStop;
    sinceStop.start();
    int accepted = acceptedAtStop;
    double lastChangeMs = 0;
    while (sinceStop.elapsed() < 2000) {
        QTest::qWait(1);
        const int now = sim.counts().first;
        if (now != accepted) {
            accepted = now;
            lastChangeMs = sinceStop.nsecsElapsed() / 1e6;
        }
    }
    const auto [acceptedAll, refused] = sim.counts();
    // A tick is two frames: 2 + 82 bytes.
    const double delivered = double(acceptedAtStop - acceptedBefore) / 2 * 84;
    QTextStream(stdout)
        << QStringLiteral(
               "{\"seconds\": %1, \"bytes_per_second\": %2, \"refused\": %3, "
               "\"most_waiting\": %4, \"stop_to_last_ms\": %5, \"frames_after_stop\": %6, "
               "\"padsim_cpu_percent\": %7, \"padsim_rss_mib\": %8}\n")
               .arg(runSeconds, 0, 'f', 2)
               .arg(delivered / runSeconds, 0, 'f', 1)
               .arg(refused)
               .arg(mostWaiting)
               .arg(lastChangeMs, 0, 'f', 1)
               .arg(acceptedAll - acceptedAtStop)
               .arg(100 * (simAfter.first - simBefore.first) / runSeconds, 0, 'f', 2)
               .arg(simAfter.second, 0, 'f', 1);
    return 0;
}
