#include "protocol/frames.h"
#include "protocol/replies.h"

#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using replies::Outcome;

namespace {

// An outcome as the table writes it: "ok 5.0" (answered as expected, latency in ms), "bad"
// (answered against the frame's expectation), "silent" (unanswered), "extra" (a reply to
// nothing), "other".
QString written(const Outcome &o)
{
    switch (o.kind) {
    case Outcome::Kind::Answered:
        return (o.answeredAsExpected() ? QStringLiteral("ok ") : QStringLiteral("bad "))
               + QString::number(double(o.latency.count()) / 1000.0, 'f', 1);
    case Outcome::Kind::Unanswered:
        return QStringLiteral("silent");
    case Outcome::Kind::Unexpected:
        return QStringLiteral("extra");
    case Outcome::Kind::Other:
        return QStringLiteral("other");
    }
    return {};
}

} // namespace

// Which frame a reply answers, when a frame is given up, and what a frame should get.
class TestReplies : public QObject
{
    Q_OBJECT

private slots:
    void expected_data();
    void expected();
    void matching_data();
    void matching();
    void waitingIsBounded();
};

void TestReplies::expected_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("refusedAfterGap");
    QTest::newRow("text") << frames::text("Oi", false) << false;
    QTest::newRow("text one byte short") << frames::text("Oi", true) << true;
    QTest::newRow("empty text") << frames::text("", false) << false;
    QTest::newRow("empty text one byte short") << frames::text("", true) << true;
    QTest::newRow("command") << frames::command(frames::Command::Line2) << false;
    QTest::newRow("echo of a key") << frames::text("\xA5", false) << false;
}

void TestReplies::expected()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, refusedAfterGap);
    QCOMPARE(replies::expected(frame) == replies::Expect::RefuseAfterGap, refusedAfterGap);
}

void TestReplies::matching_data()
{
    // Frames: "A" good (A0 80), "W" one byte short; each handed over at the times given (ms),
    // its last byte on the wire 2 ms later. Then bytes arriving at a time, and the outcomes.
    // The bound is 100 ms.
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<QList<int>>("handedAt");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("at");
    QTest::addColumn<QStringList>("outcomes");

    const QByteArray ack("\x06"), nak("\x15");
    QTest::newRow("replies answer frames in order, from their last byte")
        << QByteArray("AA") << QList<int>{0, 10} << ack + ack << 20
        << QStringList{u"ok 18.0"_s, u"ok 8.0"_s};
    QTest::newRow("a second answer answers nothing")
        << QByteArray("A") << QList<int>{0} << ack + ack << 5
        << QStringList{u"ok 3.0"_s, u"extra"_s};
    QTest::newRow("a reply on the line before the frame was written")
        << QByteArray("A") << QList<int>{10} << ack << 9 << QStringList{u"extra"_s};
    QTest::newRow("a reply before the frame's end by the line clock is no negative wait")
        << QByteArray("A") << QList<int>{10} << ack << 11 << QStringList{u"ok 0.0"_s};
    QTest::newRow("a refusal is a reply, against a good frame")
        << QByteArray("A") << QList<int>{0} << nak << 4 << QStringList{u"bad 2.0"_s};
    QTest::newRow("keys are no replies")
        << QByteArray("A") << QList<int>{0} << QByteArray("k") + ack << 4
        << QStringList{u"other"_s, u"ok 2.0"_s};
    QTest::newRow("a reply after the bound: the frame unanswered, the reply to nothing")
        << QByteArray("A") << QList<int>{0} << ack << 103 << QStringList{u"silent"_s, u"extra"_s};
    QTest::newRow("a reply at the bound is in time")
        << QByteArray("A") << QList<int>{0} << ack << 102 << QStringList{u"ok 100.0"_s};
    // A frame one byte short is refused only once the line has been quiet for the gap.
    QTest::newRow("a short frame waits out the gap as well")
        << QByteArray("W") << QList<int>{0} << nak << 150 << QStringList{u"ok 148.0"_s};
    QTest::newRow("frames behind a short one wait with it")
        << QByteArray("WA") << QList<int>{0, 1} << nak + ack << 140
        << QStringList{u"ok 138.0"_s, u"ok 137.0"_s};
    QTest::newRow("a short frame accepted")
        << QByteArray("W") << QList<int>{0} << ack << 3 << QStringList{u"bad 1.0"_s};
}

void TestReplies::matching()
{
    QFETCH(QByteArray, frames);
    QFETCH(QList<int>, handedAt);
    QFETCH(QByteArray, bytes);
    QFETCH(int, at);
    QFETCH(QStringList, outcomes);
    replies::Matcher m(100ms);
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const QByteArray frame
            = frames[i] == 'A' ? frames::command(frames::Command::Line1) : frames::text("Oi", true);
        const auto t = std::chrono::milliseconds(handedAt[i]);
        QVERIFY(m.sent(frame, t, t + 2ms).isEmpty());
    }
    QStringList got;
    for (const Outcome &o : m.received(bytes, std::chrono::milliseconds(at)))
        got << written(o);
    QCOMPARE(got, outcomes);
}

void TestReplies::waitingIsBounded()
{
    // A keyboard that stopped answering a fast loop with a long bound: the oldest frames are
    // given up rather than kept without end.
    replies::Matcher m(1000s);
    const QByteArray frame = frames::command(frames::Command::Line1);
    qsizetype givenUp = 0;
    for (qsizetype i = 0; i < replies::Matcher::kMaxWaiting + 10; ++i)
        givenUp += m.sent(frame, std::chrono::milliseconds(i), std::chrono::milliseconds(i)).size();
    QCOMPARE(givenUp, 10);
    QCOMPARE(m.waiting(), replies::Matcher::kMaxWaiting);
}

QTEST_GUILESS_MAIN(TestReplies)
#include "tst_replies.moc"
