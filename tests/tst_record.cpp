#include "record/figures.h"
#include "record/sessionrecord.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

// The session's figures and the record's lines, byte for byte.
class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void figures_data();
    void figures();
    void lines_data();
    void lines();
    void unwritableDiskEndsTheRecordOnly();
};

using Latencies = QList<std::chrono::microseconds>;

void TestRecord::figures_data()
{
    // Frames sent at 0, 10, 20 ms (last byte on the wire then); bytes arriving at 'at'.
    QTest::addColumn<int>("frames");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("atMs");
    QTest::addColumn<Latencies>("latencies");
    QTest::addColumn<QList<qint64>>("counts"); // accepted, refused, other

    QTest::newRow("each reply answers the oldest frame")
        << 3 << QByteArray("\x06\x15\x06") << 30 << Latencies{30ms, 20ms, 10ms}
        << QList<qint64>{2, 1, 0};
    QTest::newRow("keys are other bytes, not replies")
        << 1
        << QByteArray("A\x06"
                      "B")
        << 5 << Latencies{5ms} << QList<qint64>{1, 0, 2};
    QTest::newRow("a reply to nothing is counted without a latency")
        << 0 << QByteArray("\x06") << 5 << Latencies{} << QList<qint64>{1, 0, 0};
    QTest::newRow("a frame not answered yet")
        << 2 << QByteArray("\x15") << 12 << Latencies{12ms} << QList<qint64>{0, 1, 0};
}

void TestRecord::figures()
{
    QFETCH(int, frames);
    QFETCH(QByteArray, bytes);
    QFETCH(int, atMs);
    QFETCH(Latencies, latencies);
    QFETCH(QList<qint64>, counts);
    SessionFigures f;
    for (int i = 0; i < frames; ++i)
        f.frameSent(std::chrono::milliseconds(10 * i));
    QCOMPARE(f.received(bytes, std::chrono::milliseconds(atMs)), latencies);
    QCOMPARE((QList<qint64>{f.accepted(), f.refused(), f.otherBytes()}), counts);
    QCOMPARE(f.framesSent(), qint64(frames));
    QCOMPARE(f.latency().count(), qint64(latencies.size()));
    if (!latencies.isEmpty())
        QCOMPARE(*f.latency().max(), *std::max_element(latencies.begin(), latencies.end()));
}

void TestRecord::lines_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Latencies>("latencies");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("json");

    using K = record::Event::Kind;
    QTest::newRow("frame sent")
        << int(K::Sent)
        << QByteArray("\xA5\x02"
                      "Oi")
        << Latencies{}
        << QStringLiteral("     1.002003  ->  A5 02 4F 69  \"¥\u0002Oi\"")
               .replace(QChar(0x02), QStringLiteral("<STX>"))
        << QByteArray(R"({"event":"tx","hex":"A5 02 4F 69","t_us":1002003,"text":"¥<STX>Oi"})");
    QTest::newRow("reply with its latency")
        << int(K::Received) << QByteArray("\x06") << Latencies{20113us}
        << QStringLiteral("     1.002003  <-  06  \"<ACK>\"  latência 20.113 ms")
        << QByteArray(
               R"({"event":"rx","hex":"06","latency_us":[20113],"t_us":1002003,"text":"<ACK>"})");
    QTest::newRow("a byte without a character")
        << int(K::Received) << QByteArray("\x81") << Latencies{}
        << QStringLiteral("     1.002003  <-  81  \"<81>\"")
        << QByteArray(R"({"event":"rx","hex":"81","latency_us":[],"t_us":1002003,"text":"<81>"})");
    QTest::newRow("tick skipped") << int(K::TickSkipped) << QByteArray() << Latencies{}
                                  << QStringLiteral("     1.002003  **  tique pulado")
                                  << QByteArray(R"({"event":"skip","t_us":1002003})");
}

void TestRecord::lines()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(Latencies, latencies);
    QFETCH(QString, text);
    QFETCH(QByteArray, json);
    record::Event e;
    e.kind = record::Event::Kind(kind);
    e.at = 1'002'003us;
    e.bytes = bytes;
    e.latencies = latencies;
    QCOMPARE(record::textLine(e), text);
    QCOMPARE(record::jsonLine(e), json);
}

void TestRecord::unwritableDiskEndsTheRecordOnly()
{
#ifdef Q_OS_WIN
    QSKIP("needs /dev/full, a file that refuses every write");
#endif
    // /dev/full takes the open and refuses every write, as a full disk does.
    SessionRecord record;
    QSignalSpy failed(&record, &SessionRecord::failed);
    QVERIFY(record.start(QStringLiteral("/dev/full"), 0ns));
    record.sent(1ms, QByteArray("\xA0\x01"));
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(!record.isRecording());
    QVERIFY2(failed.at(0).at(0).toString().startsWith(
                 QStringLiteral("Não foi possível gravar a sessão em /dev/full: ")),
             qPrintable(failed.at(0).at(0).toString()));
    record.sent(2ms, QByteArray("\xA0\x01")); // nothing more to say
    QTest::qWait(50);
    QCOMPARE(failed.size(), 1);

    QTemporaryDir dir;
    QVERIFY(!record.start(dir.filePath(QStringLiteral("no/such/folder/x.txt")), 0ns));
    QVERIFY(!record.errorString().isEmpty());
}

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
