#include "pty/ptyend.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

// The far end of a pseudo-terminal: its pace, and the bytes both ways.
class TestPtyEnd : public QObject
{
    Q_OBJECT

private slots:
    void pacing_data();
    void pacing();
    void pacesReadsAndWritesBack();
    void writeQueueBounded();
};

void TestPtyEnd::pacing_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("takenAtStart"); // bytes read at 0 ms
    QTest::addColumn<int>("laterMs");
    QTest::addColumn<int>("allowedLater");
    QTest::addColumn<int>("waitUs"); // until the next byte after the later read, when it takes all

    // 960 bytes a second: one byte every 1.0417 ms, at most 16 in one go.
    QTest::newRow("burst, then nothing at once") << 960.0 << 16 << 0 << 0 << 1041;
    QTest::newRow("10 ms bring 9 bytes") << 960.0 << 16 << 10 << 9 << 416;
    QTest::newRow("a long idle gives no more than the burst") << 960.0 << 0 << 5000 << 16 << 1041;
    QTest::newRow("a clock that goes back gives nothing") << 960.0 << 16 << -5 << 0 << 1041;
    QTest::newRow("no limit") << 0.0 << 4096 << 0 << 4096 << 0;
}

void TestPtyEnd::pacing()
{
    QFETCH(double, rate);
    QFETCH(int, takenAtStart);
    QFETCH(int, laterMs);
    QFETCH(int, allowedLater);
    QFETCH(int, waitUs);
    Pacing pacing(rate);
    const qsizetype first = pacing.allowance(0ms, 4096);
    QCOMPARE(first, rate > 0 ? qsizetype(Pacing::kBurst) : 4096);
    pacing.take(takenAtStart);
    QCOMPARE(pacing.allowance(std::chrono::milliseconds(laterMs), 4096), qsizetype(allowedLater));
    pacing.take(allowedLater);
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(pacing.untilNext());
    QVERIFY2(std::abs(wait.count() - waitUs) <= 1, qPrintable(QString::number(wait.count())));
}

void TestPtyEnd::pacesReadsAndWritesBack()
{
    PtyEnd host;
    QVERIFY2(host.isOpen(), qPrintable(host.errorString()));
    host.makeRaw();
    host.setReadRate(960);
    const int fd
        = ::open(QFile::encodeName(host.slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QByteArray got;
    connect(&host, &PtyEnd::arrived, this, [&](const QByteArray &b) { got += b; });
    const QByteArray data(200, 'p');
    QElapsedTimer since;
    since.start();
    QCOMPARE(::write(fd, data.constData(), data.size()), ssize_t(data.size()));
    // 960 bytes a second: never more than the first burst and what the time carried.
    QTest::qWait(100);
    const double carried = 16 + 960.0 * since.nsecsElapsed() / 1e9;
    QVERIFY2(got.size() <= carried + 1,
             qPrintable(QStringLiteral("%1 > %2").arg(got.size()).arg(carried)));
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), data.size(), 2000);
    host.send("reply");
    QByteArray back;
    const auto readBack = [&] {
        char buffer[16];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            back.append(buffer, n);
        return back;
    };
    QTRY_COMPARE(readBack(), QByteArray("reply"));
    ::close(fd);
}

void TestPtyEnd::writeQueueBounded()
{
    // Nobody reads the slave: the terminal fills, then the queue, then the rest is dropped.
    PtyEnd end;
    QVERIFY(end.isOpen());
    const QByteArray block(4096, 'r');
    qsizetype accepted = 0;
    for (int i = 0; i < 64; ++i)
        accepted += end.send(block) ? block.size() : 0;
    QVERIFY(accepted < 64 * block.size());
    QVERIFY(end.pendingBytes() <= PtyEnd::kMaxPendingWrite);
    QVERIFY(end.pendingBytes() > 0);
}

QTEST_GUILESS_MAIN(TestPtyEnd)
#include "tst_ptyend.moc"
