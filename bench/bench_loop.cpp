// Send-loop timing, seen where it matters: at the far end of a pseudo-terminal. Each tick's
// frames are timestamped on arrival; the periods between ticks are compared with the rate.
// The loop's precise timer runs beside a coarse timer driving the same handler, in the same
// run, so the gain shows as a ratio.
//   bench_loop [ticks at 100 ms, default 100]

#include "app/frmpadcom.h"
#include "app/widgets/textbox.h"
#include "display/sendloop.h"
#include "stats.h"
#include "support/pty.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

struct Result
{
    Stats deviation; // |period - rate|, ms
    double meanPeriod = 0;
    double drift = 0; // last tick's lateness against the first, ms
    int ticks = 0;
};

// Arrival times of the chunks that start a tick (the cursor command leads every tick, and
// the line is idle when a tick comes due, so a tick's first bytes arrive as one chunk).
QList<double> tickArrivals(const PtyPeer &peer)
{
    QList<double> at;
    for (const PtyPeer::Chunk &c : peer.chunks()) {
        if (c.bytes.startsWith("\xA0\x80"))
            at << std::chrono::duration<double, std::milli>(c.at).count();
    }
    return at;
}

Result measure(int rate, int ticks, bool coarse)
{
    PtyPeer peer;
    linkPort(1, peer.slavePath());
    frmPADCOM form;
    form.findChild<QLineEdit *>(QStringLiteral("Text4"))->setText(QString::number(rate));
    // A text whose tick fits in the rate at 9600 baud.
    const QString text
        = rate < 50 ? QStringLiteral("Teste 20 ms") : QStringLiteral("Teste de taxa");
    form.findChild<TextBox *>(QStringLiteral("Text1"))->setText(text);
    form.CMDInicializar_Click();

    QTimer coarseTimer;
    if (coarse) {
        coarseTimer.setTimerType(Qt::CoarseTimer);
        QObject::connect(&coarseTimer, &QTimer::timeout, &form, &frmPADCOM::Timer1_Timer);
        coarseTimer.start(rate);
    } else {
        form.Command7_Click();
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (tickArrivals(peer).size() > ticks)
            loop.quit();
    });
    poll.start(5);
    loop.exec();

    const QList<double> at = tickArrivals(peer).mid(0, ticks + 1);
    Result r;
    r.ticks = int(at.size()) - 1;
    QList<double> dev;
    for (qsizetype i = 1; i < at.size(); ++i)
        dev << std::abs(at[i] - at[i - 1] - rate);
    r.deviation = Stats::of(dev);
    r.meanPeriod = (at.last() - at.first()) / r.ticks;
    r.drift = at.last() - at.first() - double(r.ticks) * rate;
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RuntimeDir runtime;
    const int ticks100 = argc > 1 ? std::max(10, atoi(argv[1])) : 100;
    QTextStream out(stdout);
    out << "Send-loop timing at the far end of a pseudo-terminal (ms)\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
               .arg(QStringLiteral("rate"), 6)
               .arg(QStringLiteral("timer"), 8)
               .arg(QStringLiteral("ticks"), 6)
               .arg(QStringLiteral("mean period"), 12)
               .arg(QStringLiteral("p50 dev"), 8)
               .arg(QStringLiteral("p99 dev"), 8)
               .arg(QStringLiteral("max dev"), 8)
               .arg(QStringLiteral("drift"), 8);
    for (const auto &[rate, ticks] : {std::pair{20, ticks100}, std::pair{100, ticks100},
                                      std::pair{1000, std::max(10, ticks100 / 5)}}) {
        Result r[2];
        for (int coarse = 0; coarse < 2; ++coarse) {
            r[coarse] = measure(rate, ticks, coarse == 1);
            out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                       .arg(rate, 6)
                       .arg(coarse ? QStringLiteral("coarse") : QStringLiteral("loop"), 8)
                       .arg(r[coarse].ticks, 6)
                       .arg(r[coarse].meanPeriod, 12, 'f', 3)
                       .arg(r[coarse].deviation.p50, 8, 'f', 3)
                       .arg(r[coarse].deviation.p99, 8, 'f', 3)
                       .arg(r[coarse].deviation.max, 8, 'f', 3)
                       .arg(r[coarse].drift, 8, 'f', 2);
            out.flush();
        }
        out << QStringLiteral(
                   "%1   loop vs coarse: p99 deviation %2x smaller, |drift| %3x smaller; "
                   "mean period off by %4 %\n")
                   .arg(rate, 6)
                   .arg(r[1].deviation.p99 / std::max(r[0].deviation.p99, 1e-3), 0, 'f', 1)
                   .arg(std::abs(r[1].drift) / std::max(std::abs(r[0].drift), 1e-3), 0, 'f', 1)
                   .arg(100.0 * (r[0].meanPeriod - rate) / rate, 0, 'f', 3);
    }
    return 0;
}
