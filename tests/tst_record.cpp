#include "record/figures.h"
#include "record/sessionrecord.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Outcome = replies::Outcome;

namespace {

// An outcome written as the tables below write it: "ack:good:5" (a reply 06 to a frame that
// should be accepted, 5 ms after it), "nak:wrong:51", "silent:good", "extra", "other".
Outcome outcome(const QString &token)
{
    const QStringList p = token.split(u':');
    Outcome o;
    if (p[0] == u"other")
        return o;
    if (p[0] == u"extra") {
        o.kind = Outcome::Kind::Unexpected;
        o.reply = protocol::ByteClass::Ack;
        return o;
    }
    o.expected = p[1] == u"good" ? replies::Expect::Accept : replies::Expect::RefuseAfterGap;
    if (p[0] == u"silent") {
        o.kind = Outcome::Kind::Unanswered;
        return o;
    }
    o.kind = Outcome::Kind::Answered;
    o.reply = p[0] == u"ack" ? protocol::ByteClass::Ack : protocol::ByteClass::Nack;
    o.latency = std::chrono::milliseconds(p[2].toInt());
    return o;
}

QList<Outcome> outcomes(const char *tokens)
{
    QList<Outcome> out;
    for (const QString &t : QString::fromLatin1(tokens).split(u' ', Qt::SkipEmptyParts))
        out << outcome(t);
    return out;
}

} // namespace

// The figures, the latency bins and the record's lines and sections, byte for byte.
class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void figures_data();
    void figures();
    void latencyBins_data();
    void latencyBins();
    void lines_data();
    void lines();
    void sectionsCarryTheirOwnFigures();
    void unwritableDiskEndsTheRecordOnly();
};

void TestRecord::figures_data()
{
    QTest::addColumn<QString>("outcomes");
    // accepted refused goodRefused wrongAccepted goodUnanswered wrongUnanswered unexpected
    // other, then how many latencies were kept.
    QTest::addColumn<QList<qint64>>("counts");
    QTest::newRow("as expected") << QStringLiteral("ack:good:5 nak:wrong:51 ack:good:7")
                                 << QList<qint64>{2, 1, 0, 0, 0, 0, 0, 0, 2};
    QTest::newRow("a good frame refused at once keeps its latency, a wrong one accepted too")
        << QStringLiteral("nak:good:3 ack:wrong:4") << QList<qint64>{1, 1, 1, 1, 0, 0, 0, 0, 1};
    QTest::newRow("unanswered frames, replies to nothing, other bytes")
        << QStringLiteral("silent:good silent:wrong silent:good extra extra other")
        << QList<qint64>{0, 0, 0, 0, 2, 1, 2, 1, 0};
}

void TestRecord::figures()
{
    QFETCH(QString, outcomes);
    QFETCH(QList<qint64>, counts);
    Figures f;
    for (const Outcome &o : ::outcomes(outcomes.toLatin1().constData()))
        f.judged(o);
    QCOMPARE((QList<qint64>{f.accepted(), f.refused(), f.goodRefused(), f.wrongAccepted(),
                            f.goodUnanswered(), f.wrongUnanswered(), f.unexpected(), f.otherBytes(),
                            f.latency().count()}),
             counts);
    QCOMPARE(f.unanswered(), f.goodUnanswered() + f.wrongUnanswered());
}

void TestRecord::latencyBins_data()
{
    QTest::addColumn<QList<qint64>>("us");
    QTest::addColumn<QStringList>("p50p99max"); // as the figures write them, in ms
    QTest::newRow("below a bin's width: never above what was seen")
        << QList<qint64>{5} << QStringList{u"0.005"_s, u"0.005"_s, u"0.005"_s};
    QTest::newRow("a wait cannot be negative")
        << QList<qint64>{-44'600, 20} << QStringList{u"0.010"_s, u"0.020"_s, u"0.020"_s};
    QTest::newRow("10 µs bins to 100 ms") << QList<qint64>{20'113, 20'114, 99'999}
                                          << QStringList{u"20.120"_s, u"99.999"_s, u"99.999"_s};
    // Past 10 s the bins are 100 ms wide, and none saturates: 79 s is 79 s.
    QTest::newRow("waits of many seconds")
        << QList<qint64>{150'000, 12'345'678, 79'000'000, 79'050'000}
        << QStringList{u"12400.000"_s, u"79050.000"_s, u"79050.000"_s};
}

void TestRecord::latencyBins()
{
    QFETCH(QList<qint64>, us);
    QFETCH(QStringList, p50p99max);
    LatencyHistogram h;
    for (const qint64 u : us)
        h.add(std::chrono::microseconds(u));
    QCOMPARE((QStringList{millisecondsText(*h.quantile(0.50)), millisecondsText(*h.quantile(0.99)),
                          millisecondsText(*h.max())}),
             p50p99max);
}

void TestRecord::lines_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("outcomes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("json");

    using K = record::Event::Kind;
    QTest::newRow("frame sent")
        << int(K::Sent)
        << QByteArray("\xA5\x02"
                      "Oi")
        << QString() << QStringLiteral("     1.002003  ->  A5 02 4F 69  \"¥<STX>Oi\"")
        << QByteArray(R"({"event":"tx","hex":"A5 02 4F 69","t_us":1002003,"text":"¥<STX>Oi"})");
    QTest::newRow("reply with its latency")
        << int(K::Received) << QByteArray("\x06") << QStringLiteral("ack:good:20")
        << QStringLiteral("     1.002003  <-  06  \"<ACK>\"  latência 20.000 ms")
        << QByteArray(
               R"({"event":"rx","hex":"06","latency_us":[20000],"t_us":1002003,"text":"<ACK>"})");
    QTest::newRow("a reply and a second answer to nothing")
        << int(K::Received) << QByteArray("\x06\x06") << QStringLiteral("ack:good:1 extra")
        << QStringLiteral("     1.002003  <-  06 06  \"<ACK><ACK>\"  latência 1.000 ms  1 resposta "
                          "sem quadro pendente")
        << QByteArray(R"({"event":"rx","hex":"06 06","latency_us":[1000],"t_us":1002003,)"
                      R"("text":"<ACK><ACK>","unexpected":1})");
    QTest::newRow("a byte without a character")
        << int(K::Received) << QByteArray("\x81") << QStringLiteral("other")
        << QStringLiteral("     1.002003  <-  81  \"<81>\"")
        << QByteArray(R"({"event":"rx","hex":"81","latency_us":[],"t_us":1002003,"text":"<81>"})");
    QTest::newRow("a frame unanswered")
        << int(K::Unanswered) << QByteArray("\xA0\x80") << QString()
        << QStringLiteral("     1.002003  **  sem resposta: A0 80  \"\u00A0€\"")
        << QByteArray(R"({"event":"unanswered","hex":"A0 80","t_us":1002003,"text":" €"})");
    QTest::newRow("tick skipped") << int(K::TickSkipped) << QByteArray() << QString()
                                  << QStringLiteral("     1.002003  **  tique pulado")
                                  << QByteArray(R"({"event":"skip","t_us":1002003})");
}

void TestRecord::lines()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, outcomes);
    QFETCH(QString, text);
    QFETCH(QByteArray, json);
    record::Event e;
    e.kind = record::Event::Kind(kind);
    e.at = 1'002'003us;
    e.bytes = bytes;
    e.outcomes = ::outcomes(outcomes.toLatin1().constData());
    QCOMPARE(record::textLine(e), text);
    QCOMPARE(record::jsonLine(e), json);
}

void TestRecord::sectionsCarryTheirOwnFigures()
{
    // Two openings of the port in one file, the second lost, and a recording that ends with a
    // third still open: each section ends with its own figures, the file with all of them.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.txt"));
    SessionRecord r;
    QVERIFY(r.start(path, 0ms));
    r.opened(1ms, 2, QStringLiteral("/dev/pts/9"));
    r.sent(2ms, QByteArray("\xA0\x01"));
    r.received(3ms, QByteArray("\x06"), outcomes("ack:good:1"));
    r.closed(4ms);
    r.opened(5ms, 2, QStringLiteral("/dev/pts/9"));
    r.sent(6ms, QByteArray("\xA0\x01"));
    r.sent(7ms, QByteArray("\xA0\x80"));
    r.expired(9ms, outcomes("silent:good"));
    r.received(10ms, QByteArray("\x06\x06"), outcomes("ack:good:2 extra"));
    r.lost(11ms, QStringLiteral("o dispositivo foi desconectado"));
    r.opened(12ms, 3, QStringLiteral("/dev/pts/8"));
    r.stop(13ms);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    const auto following = [&](const QString &start) {
        const qsizetype at = lines.indexOf(start);
        return at < 0 ? QStringList() : lines.mid(at, 5);
    };
    QCOMPARE(lines.filter(QStringLiteral("# Quadros enviados: ")),
             (QStringList{u"# Quadros enviados: 1"_s, u"# Quadros enviados: 2"_s,
                          u"# Quadros enviados: 0"_s, u"# Quadros enviados: 3"_s}));
    QCOMPARE(
        following(QStringLiteral("# Números desta abertura da porta 2:")).mid(0, 5),
        (QStringList{u"# Números desta abertura da porta 2:"_s, u"# Quadros enviados: 1"_s,
                     u"# Aceitos (06): 1"_s, u"# Recusados (15): 0"_s, u"# Sem resposta: 0"_s}));
    QVERIFY(lines.contains(QStringLiteral("     0.011000  **  porta 2 perdida: o dispositivo foi "
                                          "desconectado")));
    QVERIFY(
        lines.contains(QStringLiteral("     0.013000  **  fim da gravação com a porta 3 aberta")));
    QCOMPARE(
        following(QStringLiteral("# Números da gravação inteira:")),
        (QStringList{u"# Números da gravação inteira:"_s, u"# Quadros enviados: 3"_s,
                     u"# Aceitos (06): 2"_s, u"# Recusados (15): 0"_s, u"# Sem resposta: 1"_s}));
    QVERIFY(lines.contains(QStringLiteral("# Respostas inesperadas: 1")));
}

void TestRecord::unwritableDiskEndsTheRecordOnly()
{
#ifdef Q_OS_WIN
    QSKIP("needs /dev/full, a file that refuses every write");
#endif
    // /dev/full takes the open and refuses every write, as a full disk does; the reason is
    // the user's language's.
    SessionRecord record;
    QSignalSpy failed(&record, &SessionRecord::failed);
    QVERIFY(record.start(QStringLiteral("/dev/full"), 0ns));
    record.sent(1ms, QByteArray("\xA0\x01"));
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(!record.isRecording());
    QVERIFY2(failed.at(0).at(0).toString().startsWith(QStringLiteral(
                 "Não foi possível gravar a sessão em /dev/full: não há espaço livre "
                 "no disco.")),
             qPrintable(failed.at(0).at(0).toString()));
    record.sent(2ms, QByteArray("\xA0\x01")); // nothing more to say
    QTest::qWait(50);
    QCOMPARE(failed.size(), 1);

    QTemporaryDir dir;
    QVERIFY(!record.start(dir.filePath(QStringLiteral("no/such/folder/x.txt")), 0ns));
    QCOMPARE(record.errorString(), QStringLiteral("arquivo ou pasta inexistente"));
}

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
