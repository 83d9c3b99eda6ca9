#include "serial/linesettings.h"
#include "serial/txline.h"

#include <QTest>

using namespace std::chrono_literals;

// The line's settings and the clock that tells how much of what was handed over is still
// ahead of the wire.
class TestLineSettings : public QObject
{
    Q_OBJECT

private slots:
    void settings_data();
    void settings();
    void lineClock();
};

void TestLineSettings::settings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("bits");

    QTest::newRow("9600,N,8,1") << QStringLiteral("9600,N,8,1") << true << 10.0;
    QTest::newRow("19200,E,7,2") << QStringLiteral("19200,E,7,2") << true << 11.0;
    QTest::newRow("lower case") << QStringLiteral("9600,n,8,1") << true << 10.0;
    QTest::newRow("missing part") << QStringLiteral("9600,N,8") << false << 0.0;
    QTest::newRow("bad parity") << QStringLiteral("9600,X,8,1") << false << 0.0;
    QTest::newRow("bad data bits") << QStringLiteral("9600,N,9,1") << false << 0.0;
    QTest::newRow("zero baud") << QStringLiteral("0,N,8,1") << false << 0.0;
}

void TestLineSettings::settings()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, bits);
    const auto parsed = LineSettings::parse(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(parsed->bitsPerByte(), bits);
        QCOMPARE(LineSettings::parse(parsed->toString()), parsed);
    }
}

void TestLineSettings::lineClock()
{
    const LineSettings s;
    QCOMPARE(s.byteTime(), 1'041'667ns); // 10 bits at 9600 baud
    TxLine line(1ms);
    QCOMPARE(line.pending(0ms), 0);
    line.handOver(10, 0ms);
    QCOMPARE(line.pending(0ms), 10);
    QCOMPARE(line.pending(std::chrono::microseconds(4500)), 6); // a byte half sent still counts
    QCOMPARE(line.pending(10ms), 0);
    line.handOver(4, 8ms); // queued behind the two still going out
    QCOMPARE(line.pending(8ms), 6);
    QCOMPARE(line.untilPendingAtMost(2, 8ms), 4ms);
    line.handOver(3, 100ms); // an idle line starts afresh
    QCOMPARE(line.pending(100ms), 3);
}

QTEST_GUILESS_MAIN(TestLineSettings)
#include "tst_linesettings.moc"
