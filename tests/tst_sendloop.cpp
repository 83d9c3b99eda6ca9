#include "protocol/sendloop.h"

#include <QTest>

// The send loop's rule: which tick fits in what the transmit buffer has free.
class TestSendLoop : public QObject
{
    Q_OBJECT

private slots:
    void tickFits_data();
    void tickFits();
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

QTEST_GUILESS_MAIN(TestSendLoop)
#include "tst_sendloop.moc"
