#include "protocol/frames.h"
#include "serial/linesettings.h"
#include "session/session.h"
#include "sim/device.h"
#include "sim/simulator.h"
#include "testkit/linerecorder.h"
#include "testkit/ptypeer.h"
#include "testkit/runtimedir.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Kind = Session::Outcome::Kind;

namespace {

// What a record says the line carried: the bytes each way, the replies' latencies, and the
// figures it ends with, read back from either format.
struct Read
{
    QByteArray sent;
    QByteArray received;
    QList<double> latenciesMs;
    QStringList figures; // "frames accepted refused" of each section, then of the file
    QStringList events;  // open, close, lost, still_open
};

Read readRecord(const QString &path)
{
    QFile file(path);
    Read r;
    if (!file.open(QIODevice::ReadOnly))
        return r;
    const bool json = path.endsWith(QStringLiteral(".jsonl"));
    QString figures;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (json) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            const QString event = o[QStringLiteral("event")].toString();
            const QByteArray bytes
                = QByteArray::fromHex(o[QStringLiteral("hex")].toString().toLatin1());
            if (event == QStringLiteral("tx"))
                r.sent += bytes;
            if (event == QStringLiteral("rx")) {
                r.received += bytes;
                for (const auto l : o[QStringLiteral("latency_us")].toArray())
                    r.latenciesMs << l.toDouble() / 1000;
            }
            if (event == QStringLiteral("open") || event == QStringLiteral("close")
                || event == QStringLiteral("lost") || event == QStringLiteral("still_open"))
                r.events << event;
            if (event == QStringLiteral("figures"))
                r.figures << QStringLiteral("%1 %2 %3")
                                 .arg(o[QStringLiteral("frames_sent")].toInt())
                                 .arg(o[QStringLiteral("accepted")].toInt())
                                 .arg(o[QStringLiteral("refused")].toInt());
            continue;
        }
        const QString text = QString::fromUtf8(line);
        const QStringList parts = text.split(QStringLiteral("  "), Qt::SkipEmptyParts);
        if (parts.size() >= 3
            && (parts[1] == QStringLiteral("->") || parts[1] == QStringLiteral("<-"))) {
            (parts[1] == QStringLiteral("->") ? r.sent : r.received)
                += QByteArray::fromHex(parts[2].toLatin1());
            const qsizetype at = text.indexOf(QStringLiteral("latência "));
            if (at >= 0) {
                for (const QString &l : text.mid(at + 9)
                                            .section(QStringLiteral(" ms"), 0, 0)
                                            .split(QStringLiteral(", ")))
                    r.latenciesMs << l.toDouble();
            }
        }
        if (parts.size() >= 3 && parts[1] == QStringLiteral("**")) {
            for (const char *word : {" aberta", " fechada", " perdida", "fim da gravação"}) {
                if (parts[2].contains(QLatin1String(word)))
                    r.events << QString::fromLatin1(word).trimmed();
            }
        }
        if (text.startsWith(QStringLiteral("# Quadros enviados: ")))
            figures = text.mid(20);
        else if (text.startsWith(QStringLiteral("# Aceitos (06): ")))
            figures += u' ' + text.mid(16);
        else if (text.startsWith(QStringLiteral("# Recusados (15): ")))
            r.figures << figures + u' ' + text.mid(18);
    }
    return r;
}

// A far end on a thread of its own that answers 06 to every two bytes it reads (a command
// frame) as soon as it reads them.
std::unique_ptr<LineRecorder> answerEveryCommand(PtyPeer &peer)
{
    peer.stopReading();
    return std::make_unique<LineRecorder>(peer.masterFd(), 0,
                                          [bytes = 0](QByteArrayView read, auto) mutable {
                                              const int before = bytes / 2;
                                              bytes += int(read.size());
                                              return QByteArray(bytes / 2 - before, '\x06');
                                          });
}

} // namespace

// One keyboard's session on a real pseudo-terminal: each event of the line judged once, in
// order, by the matcher, the figures and the record, before the front end hears of it.
class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void recordAgreesWithTheKeyboard_data();
    void recordAgreesWithTheKeyboard();
    void frontEndHearsAfterTheJudgement();
    void repliesWaitingBeforeTheOpenAnswerNothing();
    void everyOpeningIsASection();
    void closeJudgesWhatCame();
    void silenceIsJudgedInBoundedTime();
    void aReplyInTimeIsNeverGivenUp();
    void heldLoopWaitsForTheRefusal();

private:
    bool open(Session &session, int number) { return session.open(QString::number(number)).opened; }
    const LcdDevice &device() const { return m_sim->device(); }

    RuntimeDir m_runtime;
    std::unique_ptr<PtySimulator> m_sim;
};

void TestSession::init()
{
    m_sim = std::make_unique<PtySimulator>();
    QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
}

void TestSession::cleanup()
{
    m_sim.reset();
}

void TestSession::recordAgreesWithTheKeyboard_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<int>("refuseEvery");
    QTest::newRow("text, answers 20 ms late, refuses every 3rd")
        << QStringLiteral("session.txt") << 20 << 3;
    QTest::newRow("JSON Lines, answers 5 ms late, refuses every 4th")
        << QStringLiteral("session.jsonl") << 5 << 4;
}

void TestSession::recordAgreesWithTheKeyboard()
{
    QFETCH(QString, file);
    QFETCH(int, replyDelayMs);
    QFETCH(int, refuseEvery);
    m_sim->keyboard().setReplyDelay(std::chrono::milliseconds(replyDelayMs));
    m_sim->keyboard().setRefuseEvery(refuseEvery);
    QByteArray replied;
    connect(&m_sim->keyboard(), &VirtualKeyboard::reply, this,
            [&replied](const QByteArray &b) { replied += b; });
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    Session session;
    QVERIFY(session.startRecording(path));
    QVERIFY(open(session, m_sim->number()));

    // One frame at a time, each answered before the next: every reply has one frame to
    // answer, and the keyboard's history holds them all.
    constexpr int kFrames = 6;
    const QByteArray text = frames::text(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN ", false);
    for (int i = 0; i < kFrames; ++i) {
        session.comm().Output(i % 2 == 0 ? text : frames::command(frames::Command::Clear));
        QTRY_COMPARE(session.figures().accepted() + session.figures().refused(), qint64(i + 1));
    }
    const Figures &figures = session.figures();
    QCOMPARE(figures.framesSent(), qint64(kFrames));
    QCOMPARE(figures.accepted(), qint64(device().acceptedCount()));
    QCOMPARE(figures.refused(), qint64(device().refusedCount()));
    QCOMPARE(figures.refused(), qint64(kFrames / refuseEvery));
    QCOMPARE(figures.unexpected() + figures.unanswered() + figures.otherBytes(), qint64(0));

    session.stopRecording();
    const Read record = readRecord(path);
    QByteArray seen;
    for (const LcdDevice::Frame &f : device().history())
        seen += f.bytes;
    QCOMPARE(record.sent, seen);
    QCOMPARE(record.received, replied);
    const QString counts = QStringLiteral("%1 %2 %3")
                               .arg(kFrames)
                               .arg(device().acceptedCount())
                               .arg(device().refusedCount());
    QCOMPARE(record.figures, (QStringList{counts, counts}));
    QCOMPARE(record.latenciesMs.size(), kFrames);
    // From the frame's last byte on the line to the reply: never sooner than the keyboard
    // waited. The keyboard shares this thread with the session, so a loaded machine delays
    // replies by some milliseconds: the text frames' median may run late by that much, never
    // by a frame's 41 bytes (which a clock read at the hand-over instead of the wire adds).
    const double byteMs
        = std::chrono::duration<double, std::milli>(LineSettings().byteTime()).count();
    QList<double> textFrames;
    for (int i = 0; i < kFrames; i += 2)
        textFrames << record.latenciesMs[i];
    std::sort(textFrames.begin(), textFrames.end());
    QStringList all;
    for (const double l : record.latenciesMs)
        all << QString::number(l, 'f', 3);
    const QString what = QStringLiteral("latencies %1 ms for a delay of %2 ms")
                             .arg(all.join(u' '))
                             .arg(replyDelayMs);
    QVERIFY2(*std::min_element(record.latenciesMs.begin(), record.latenciesMs.end())
                 >= replyDelayMs - byteMs,
             qPrintable(what));
    QVERIFY2(textFrames[1] <= replyDelayMs + byteMs + 25, qPrintable(what));
}

void TestSession::frontEndHearsAfterTheJudgement()
{
    // A received block reaches the front end once, after the matcher, the figures and the
    // record have it: what the front end reads of the figures already counts the block.
    Session session;
    QVERIFY(open(session, m_sim->number()));
    QStringList heard;
    connect(&session, &Session::judged, this, [&](const QList<Session::Outcome> &outcomes) {
        for (const Session::Outcome &o : outcomes)
            heard << (o.kind == Kind::Answered ? QStringLiteral("judged") : QStringLiteral("?"));
    });
    connect(&session, &Session::OnComm, this, [&](const Session::Event &e) {
        heard << QStringLiteral("front end %1 %2")
                     .arg(QString::fromLatin1(e.bytes.toHex()))
                     .arg(session.figures().accepted());
    });
    session.comm().Output(frames::command(frames::Command::Clear));
    QTRY_COMPARE(heard, (QStringList{u"judged"_s, u"front end 06 1"_s}));
}

void TestSession::repliesWaitingBeforeTheOpenAnswerNothing()
{
    // A keyboard still answering a run that closed the port: its replies wait on the line for
    // the next opening, and answer nothing sent in it.
    m_sim->line().send(QByteArray(3, '\x06'));
    QTest::qWait(50);
    Session session;
    QVERIFY(open(session, m_sim->number()));
    session.comm().Output(frames::command(frames::Command::Clear));
    QTRY_COMPARE(session.figures().accepted(), qint64(1));
    QCOMPARE(session.figures().unexpected(), qint64(3));
}

void TestSession::everyOpeningIsASection()
{
    // Figures start again at each opening; the record keeps one section each, and ends with
    // the close of the last one, which the session writes as it goes.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("two.txt"));
    {
        Session session;
        QVERIFY(session.startRecording(path));
        QVERIFY(open(session, m_sim->number()));
        for (int i = 0; i < 2; ++i)
            session.comm().Output(frames::command(frames::Command::Line1));
        QTRY_COMPARE(session.figures().accepted(), qint64(2));
        session.close();
        QVERIFY(open(session, m_sim->number()));
        QCOMPARE(session.figures().framesSent(), qint64(0));
        for (int i = 0; i < 3; ++i)
            session.comm().Output(frames::command(frames::Command::Line2));
        QTRY_COMPARE(session.figures().accepted(), qint64(3));
    }
    const Read record = readRecord(path);
    QCOMPARE(record.events, (QStringList{u"aberta"_s, u"fechada"_s, u"aberta"_s, u"fechada"_s}));
    QCOMPARE(record.figures, (QStringList{u"2 2 0"_s, u"3 3 0"_s, u"5 5 0"_s}));
}

void TestSession::closeJudgesWhatCame()
{
    // Frames the line handed over and replies it read while this thread was busy are judged
    // and recorded by the time the close returns. The far end answers every two bytes read
    // (a command frame) on a thread of its own.
    PtyPeer peer;
    QVERIFY(linkPort(9, peer.slavePath()));
    const auto far = answerEveryCommand(peer);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("close.jsonl"));
    Session session;
    QVERIFY(session.startRecording(path));
    QVERIFY(open(session, 9));
    session.comm().Output(frames::command(frames::Command::Clear));
    session.comm().Output(frames::command(frames::Command::Line2));
    QTest::qSleep(300); // busy: the line and the far end go on
    QCOMPARE(session.figures().framesSent(), qint64(0));
    session.close();
    QCOMPARE(session.figures().framesSent(), qint64(2));
    QCOMPARE(session.figures().accepted(), qint64(2));
    session.stopRecording();
    QCOMPARE(readRecord(path).figures, (QStringList{u"2 2 0"_s, u"2 2 0"_s}));
}

void TestSession::silenceIsJudgedInBoundedTime()
{
    // A far end that never answers: each frame is given up once its bound has passed.
    PtyPeer silent;
    QVERIFY(linkPort(9, silent.slavePath()));
    Session session;
    session.setReplyBound(30ms);
    QVERIFY(open(session, 9));
    int unanswered = 0;
    connect(&session, &Session::judged, this, [&](const QList<Session::Outcome> &outcomes) {
        for (const Session::Outcome &o : outcomes)
            unanswered += o.kind == Kind::Unanswered ? 1 : 0;
    });
    session.comm().Output(frames::command(frames::Command::Clear));
    session.comm().Output(frames::text("Oi", true));
    QTRY_COMPARE_WITH_TIMEOUT(unanswered, 2, 2000);
    QCOMPARE(session.figures().goodUnanswered(), qint64(1));
    QCOMPARE(session.figures().wrongUnanswered(), qint64(1));
    QVERIFY(session.settled());
}

void TestSession::aReplyInTimeIsNeverGivenUp()
{
    // A far end that answers as soon as a command frame is read, and a bound shorter than the
    // line's pause between two hand-overs: the reply, in time, must be heard before the frame
    // is given up.
    PtyPeer peer;
    QVERIFY(linkPort(9, peer.slavePath()));
    const auto far = answerEveryCommand(peer);
    Session session;
    session.setReplyBound(10ms);
    QVERIFY(open(session, 9));
    for (int i = 1; i <= 5; ++i) {
        session.comm().Output(frames::command(frames::Command::Clear));
        QTRY_VERIFY(session.settled());
        QCOMPARE(session.figures().accepted(), qint64(i));
    }
    QCOMPARE(session.figures().unanswered() + session.figures().unexpected(), qint64(0));
}

void TestSession::heldLoopWaitsForTheRefusal()
{
    // Every 2nd tick one byte short, and no tick until its refusal, which the keyboard gives
    // only after 50 ms of a quiet line: no tick may complete the short frame instead.
    Session session;
    QVERIFY(open(session, m_sim->number()));
    MSComm::LoopPlan plan;
    const QByteArray cursor = frames::command(frames::Command::Line1);
    plan.frames = {cursor, frames::text("Oi", false)};
    plan.variant = {cursor, frames::text("Oi", true)};
    plan.variantEvery = 2;
    plan.holdAfterVariant = true;
    plan.ticks = 6;
    session.setLoopPlan(plan);
    int held = 0;
    bool ended = false;
    connect(&session, &Session::ticked, this, [&](const Session::Event &tick) {
        held += tick.tick == MSComm::LoopTick::Held ? 1 : 0;
        ended = ended || tick.lastTick;
    });
    session.setLoopInterval(10);
    QTRY_VERIFY_WITH_TIMEOUT(ended && session.settled(), 5000);
    QVERIFY(held > 0);
    const Figures &f = session.figures();
    QCOMPARE(f.framesSent(), qint64(12));
    QCOMPARE(f.accepted(), qint64(9));
    QCOMPARE(f.refused(), qint64(3));
    QCOMPARE(f.goodRefused() + f.wrongAccepted() + f.unanswered() + f.unexpected(), qint64(0));
    QCOMPARE(device().refusedCount(), 3);
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
