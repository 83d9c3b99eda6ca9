#include "display/sendloop.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <cmath>

// The send loop's rules: which tick fits, and the timer that keeps the ticks on a grid.
class TestSendLoop : public QObject
{
    Q_OBJECT

private slots:
    void tickFits_data();
    void tickFits();
    void loopTimerKeepsTheGrid();
};

void TestSendLoop::tickFits_data()
{
    QTest::addColumn<int>("length"); // characters of the display text
    QTest::addColumn<int>("free");   // bytes free in the transmit buffer
    QTest::addColumn<bool>("fits");

    // A tick is the cursor command (2 bytes) and the text frame (2 + length).
    QTest::newRow("80 characters, room for 84") << 80 << 84 << true;
    QTest::newRow("80 characters, room for 83") << 80 << 83 << false;
    QTest::newRow("empty text, room for 4") << 0 << 4 << true;
    QTest::newRow("empty text, room for 3") << 0 << 3 << false;
    QTest::newRow("empty buffer of 512") << 80 << 512 << true;
    QTest::newRow("buffer full") << 1 << 0 << false;
    QTest::newRow("more waiting than the buffer holds") << 1 << -10 << false;
}

void TestSendLoop::tickFits()
{
    QFETCH(int, length);
    QFETCH(int, free);
    QFETCH(bool, fits);
    QCOMPARE(sendloop::tickFits(length, free), fits);
}

void TestSendLoop::loopTimerKeepsTheGrid()
{
    // Ticks come at the interval's grid, a busy moment costs ticks but not the grid, and a
    // stop means no tick after it.
    LoopTimer timer;
    QList<qint64> at;
    QElapsedTimer clock;
    connect(&timer, &LoopTimer::Timer, this, [&] { at << clock.nsecsElapsed(); });
    timer.setInterval(20);
    clock.start();
    timer.setEnabled(true);
    QVERIFY(timer.isTicking());
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 10, 5000);
    QThread::msleep(75); // the thread at work: about three ticks come due meanwhile
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 13, 5000);
    timer.setEnabled(false);
    QVERIFY(!timer.isTicking());
    const qsizetype stopped = at.size();
    QTest::qWait(100);
    QCOMPARE(at.size(), stopped);
    for (qsizetype i = 1; i < at.size(); ++i) {
        const qint64 step = at[i] - at[i - 1];
        // Whole intervals apart, within what a loaded machine may add to one dispatch.
        const double intervals = double(step) / 20e6;
        QVERIFY2(std::abs(intervals - std::round(intervals)) < 0.45 || intervals > 1,
                 qPrintable(QString::number(intervals)));
    }
    // Nothing was queued: no burst of catch-up ticks after the busy moment.
    for (qsizetype i = 1; i < at.size(); ++i)
        QVERIFY2(at[i] - at[i - 1] > 5'000'000, qPrintable(QString::number(at[i] - at[i - 1])));
}

QTEST_GUILESS_MAIN(TestSendLoop)
#include "tst_sendloop.moc"
