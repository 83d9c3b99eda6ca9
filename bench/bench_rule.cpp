// The receive rule alone, for counting instructions under callgrind (instruction counts
// repeat where times do not): N blocks of 1024 bytes through the rule. scripts/bench.sh runs
// it with two N and takes the difference, so start-up cancels out.
//   bench_rule <blocks>

#include "monitor/receive.h"
#include "stats.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    const int blocks = countArgument(argc, argv, 100);
    QRandomGenerator random(1);
    QList<QByteArray> samples(16, QByteArray(1024, Qt::Uninitialized));
    for (QByteArray &block : samples) {
        for (char &c : block)
            c = char(random.bounded(256));
    }
    monitor::Boxes boxes{QString(), QString(), QStringLiteral("0"), QStringLiteral("0")};
    qsizetype total = 0;
    for (int i = 0; i < blocks; ++i) {
        // Echo on: the costliest path. The logs pass the limit with every block and are
        // emptied by the rule itself before the next, as in the window.
        monitor::BlockResult r = monitor::receiveBlock(boxes, samples[i % samples.size()], true);
        total += r.echoes.size();
        boxes = std::move(r.boxes);
    }
    std::printf("%lld\n", static_cast<long long>(total));
    return 0;
}
