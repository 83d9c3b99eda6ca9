#include "serial/looptimer.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <algorithm>

class TestLoopTimer : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheGrid();
};

void TestLoopTimer::keepsTheGrid()
{
    // Ticks keep to the grid the start set: a busy moment costs ticks but does not move the
    // grid, two ticks never go out less than half an interval apart, and a stop means no tick
    // after it. Only what the timer promises is checked: any tick may come late on a loaded
    // machine, so no single tick is held to its grid point.
    constexpr qint64 interval = 20'000'000; // ns
    LoopTimer timer;
    QList<qint64> at;
    QElapsedTimer clock;
    connect(&timer, &LoopTimer::timeout, this, [&] { at << clock.nsecsElapsed(); });
    clock.start();
    timer.start(std::chrono::milliseconds(interval / 1'000'000));
    QVERIFY(timer.isActive());
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 5, 5000);
    // Busy until half an interval past a grid point, a few intervals on: a timer that
    // restarted its period from the late tick would keep every later tick half an interval
    // off the grid.
    const qint64 busyUntil = (clock.nsecsElapsed() / interval + 4) * interval + interval / 2;
    QThread::usleep(quint64(busyUntil - clock.nsecsElapsed()) / 1000);
    const qsizetype afterBusy = at.size();
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= afterBusy + 8, 5000);
    timer.stop();
    QVERIFY(!timer.isActive());
    const qsizetype stopped = at.size();
    QTest::qWait(100);
    QCOMPARE(at.size(), stopped);

    // The timer measures its half interval on its own clock, a hair before ours.
    for (qsizetype i = 1; i < at.size(); ++i) {
        const double intervals = double(at[i] - at[i - 1]) / double(interval);
        QVERIFY2(intervals > 0.45,
                 qPrintable(QStringLiteral("tick %1 came %2 intervals after the one before")
                                .arg(i)
                                .arg(intervals)));
    }
    qint64 nearest = interval;
    for (qsizetype i = afterBusy; i < at.size(); ++i) {
        const qint64 off = at[i] % interval;
        nearest = std::min({nearest, off, interval - off});
    }
    QVERIFY2(nearest < interval / 4,
             qPrintable(QStringLiteral(
                            "after the busy moment the nearest tick to the grid was %1 ms off it")
                            .arg(double(nearest) / 1e6)));
}

QTEST_GUILESS_MAIN(TestLoopTimer)
#include "tst_looptimer.moc"
