#include "testkit/runtimedir.h"
#include "testkit/simprocess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

// How many ports a command line names: those before the first option, and every --port.
qsizetype portCount(const QStringList &padtest)
{
    qsizetype leading = 0;
    while (leading < padtest.size() && !padtest[leading].startsWith(u'-'))
        ++leading;
    return leading + padtest.count(QStringLiteral("--port"));
}

// The record of a station's first port (7): with several ports each has its own file.
QString portFile(const QString &path, const QStringList &padtest)
{
    if (portCount(padtest) <= 1)
        return path;
    return QString(path).replace(QStringLiteral(".txt"), QStringLiteral("-7.txt"));
}

} // namespace

// padtest as a production bench runs it: against padsim playing sound and faulty keyboards,
// judged by its exit code, its summary, its JSON, its JUnit report (read by Python, as CI
// servers' tools would) and its record, which must all say the same, in bounded time.
class TestPadtest : public QObject
{
    Q_OBJECT

private slots:
    void runs_data();
    void runs();
    void eachKeyboardInTurn();
};

void TestPadtest::runs_data()
{
    // The keyboards, one padsim command line each; none: no keyboard at all.
    QTest::addColumn<QStringList>("padsims");
    QTest::addColumn<QStringList>("padtest");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("json"); // frames_sent accepted refused other_bytes, or empty
    QTest::addColumn<QString>("says");
    // What happens during the run: "kill MS" (the keyboard dies), "interrupt MS [N]" (N
    // Ctrl+C, one after the other, MS after the start).
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("broken"); // a file that cannot be written: json, record

    const QStringList keyboard{QStringLiteral("--port 7")};
    const auto faulty = [](const char *fault) {
        return QStringList{QStringLiteral("--port 7 ") + QString::fromLatin1(fault)};
    };
    const auto args = [](const char *text) {
        return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
    };
    QTest::newRow("a good keyboard passes, wrong frames refused")
        << keyboard << args("7 --frames 20 --rate 50 --wrong-every 5") << 0
        << QStringLiteral("41 37 4 0") << QStringLiteral("APROVADO") << QString() << QString();
    QTest::newRow("refusals of good frames fail")
        << faulty("--refuse-every 7") << args("7 --frames 20 --rate 50") << 1
        << QStringLiteral("41 36 5 0") << QStringLiteral("quadros bons recusados") << QString()
        << QString();
    QTest::newRow("replies later than the bound: the frame counts as unanswered")
        << faulty("--reply-delay 30") << args("7 --frames 5 --max-latency 10") << 1 << QString()
        << QStringLiteral("quadros sem resposta em até 10 ms") << QString() << QString();
    QTest::newRow("a keyboard 30 ms slow passes within the default bound")
        << faulty("--reply-delay 30") << args("7 --frames 10 --rate 50 --wrong-every 4") << 0
        << QStringLiteral("21 19 2 0") << QStringLiteral("APROVADO") << QString() << QString();
    // The keyboards a production line meets: each fails, with its reason, in bounded time.
    QTest::newRow("a keyboard that answers twice")
        << faulty("--answer-twice") << args("7 --frames 10 --rate 50") << 1 << QString()
        << QStringLiteral("respostas sem quadro pendente") << QString() << QString();
    QTest::newRow("replies left from an earlier run")
        << faulty("--stale 3") << args("7 --frames 10 --rate 50") << 1
        << QStringLiteral("21 21 0 0") << QStringLiteral("3 respostas sem quadro pendente")
        << QString() << QString();
    QTest::newRow("a keyboard that falls silent")
        << faulty("--silent-after 5") << args("7 --frames 1000 --rate 50") << 1 << QString()
        << QStringLiteral("quadros sem resposta em até 1000 ms") << QString() << QString();
    QTest::newRow("a keyboard that falls silent, with frames one byte short")
        << faulty("--silent-after 5") << args("7 --frames 1000 --rate 50 --wrong-every 2") << 1
        << QString() << QStringLiteral("sem resposta") << QString() << QString();
    QTest::newRow("a keyboard that loses replies")
        << faulty("--drop-every 4") << args("7 --frames 10 --rate 50") << 1 << QString()
        << QStringLiteral("quadros sem resposta") << QString() << QString();
    QTest::newRow("line noise") << faulty("--noise-every 3") << args("7 --frames 10 --rate 50") << 1
                                << QString() << QStringLiteral("bytes que não são 06 nem 15")
                                << QString() << QString();
    QTest::newRow("a keyboard that never refuses a frame left short")
        << faulty("--no-gap") << args("7 --frames 10 --rate 50 --wrong-every 3") << 1 << QString()
        << QStringLiteral("quadros com o tamanho errado sem resposta") << QString() << QString();
    QTest::newRow("a keyboard that accepts frames of the wrong length")
        << faulty("--accept-all") << args("7 --frames 10 --rate 50 --wrong-every 3") << 1
        << QString() << QStringLiteral("quadros com o tamanho errado aceitos (06)") << QString()
        << QString();
    QTest::newRow("a port that is not there")
        << QStringList() << args("99 --frames 5") << 3 << QString()
        << QStringLiteral("Não Foi possivel iniciar") << QString() << QString();
    QTest::newRow("the keyboard lost in the middle")
        << keyboard << args("7 --seconds 30 --rate 50") << 3 << QString()
        << QStringLiteral("foi perdida") << QStringLiteral("kill 800") << QString();
    // A keyboard that takes 20 s to answer, and a bound of 30 s: Ctrl+C must not wait them.
    QTest::newRow("Ctrl+C while the keyboard keeps everyone waiting")
        << faulty("--reply-delay 20000") << args("7 --seconds 60 --max-latency 30000") << 1
        << QString() << QStringLiteral("interrompido antes do fim")
        << QStringLiteral("interrupt 600") << QString();
    QTest::newRow("Ctrl+C twice") << faulty("--reply-delay 20000")
                                  << args("7 --seconds 60 --max-latency 30000") << 1 << QString()
                                  << QStringLiteral("interrompido antes do fim")
                                  << QStringLiteral("interrupt 600 2") << QString();
    QTest::newRow("a report that cannot be written fails the run, and the others say so")
        << keyboard << args("7 --frames 2") << 1 << QString()
        << QStringLiteral("não foi possível gravar") << QString() << QStringLiteral("json");
    QTest::newRow("a record that cannot be written fails the run")
        << keyboard << args("7 --frames 20 --rate 20") << 1 << QString()
        << QStringLiteral("não há espaço livre no disco") << QString() << QStringLiteral("record");
    // A station: every port at once, each keyboard judged as if alone; the worst code wins.
    QTest::newRow("a station of a sound keyboard and a refusing one")
        << QStringList{QStringLiteral("--port 7"), QStringLiteral("--port 8 --refuse-every 5")}
        << args("7 --port 8 --frames 20 --rate 50") << 1 << QString()
        << QStringLiteral("porta 8: REPROVADO: 8 quadros bons recusados (15)") << QString()
        << QString();
    QTest::newRow("a station where one port is not there")
        << keyboard << args("7 99 --frames 10 --rate 50") << 3 << QString()
        << QStringLiteral("porta 7: APROVADO") << QString() << QString();
    QTest::newRow("a port that is no number")
        << QStringList() << args("7 abc") << 2 << QString()
        << QStringLiteral("\"abc\" não é um número de porta") << QString() << QString();
    QTest::newRow("port 0") << QStringList() << args("0") << 2 << QString()
                            << QStringLiteral("de 1 a 99") << QString() << QString();
    QTest::newRow("a port twice") << QStringList() << args("7 --port 07") << 2 << QString()
                                  << QStringLiteral("a porta 7 foi dada duas vezes") << QString()
                                  << QString();
    QTest::newRow("a rate of 0") << QStringList() << args("7 --rate 0") << 2 << QString()
                                 << QStringLiteral("--rate pede") << QString() << QString();
    QTest::newRow("a rate above 65535") << QStringList() << args("7 --rate 65536") << 2 << QString()
                                        << QStringLiteral("--rate pede") << QString() << QString();
    QTest::newRow("no port") << QStringList() << args("--frames 5") << 2 << QString()
                             << QStringLiteral("falta o número da porta") << QString() << QString();
    QTest::newRow("an unknown option")
        << QStringList() << args("7 --fast") << 2 << QString()
        << QStringLiteral("Opção desconhecida") << QString() << QString();
}

void TestPadtest::runs()
{
    QFETCH(QStringList, padsims);
    QFETCH(QStringList, padtest);
    QFETCH(int, exitCode);
    QFETCH(QString, json);
    QFETCH(QString, says);
    QFETCH(QString, action);
    QFETCH(QString, broken);

    RuntimeDir runtime;
    std::vector<std::unique_ptr<SimulatorProcess>> sims;
    for (const QString &keyboard : std::as_const(padsims)) {
        sims.push_back(std::make_unique<SimulatorProcess>());
        QVERIFY(sims.back()->start(QStringLiteral(PADSIM_PATH),
                                   keyboard.split(u' ', Qt::SkipEmptyParts)));
    }
    QTemporaryDir dir;
    const QString jsonPath = broken == u"json"
                                 ? dir.filePath(QStringLiteral("no/such/figures.json"))
                                 : dir.filePath(QStringLiteral("figures.json"));
    const QString junitPath = dir.filePath(QStringLiteral("report.xml"));
    const QString recordPath = broken == u"record" ? QStringLiteral("/dev/full")
                                                   : dir.filePath(QStringLiteral("session.txt"));
    if (exitCode != 2)
        padtest << QStringLiteral("--json") << jsonPath << QStringLiteral("--junit") << junitPath
                << QStringLiteral("--record") << recordPath;

    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral(PADTEST_PATH), padtest);
    QVERIFY(run.waitForStarted());
    const QStringList act = action.split(u' ', Qt::SkipEmptyParts);
    QElapsedTimer sinceAction;
    if (!act.isEmpty()) {
        QTest::qWait(act[1].toInt());
        sinceAction.start();
        if (act[0] == u"kill") {
            sims.front()->process().kill();
        } else {
            for (int i = 0; i < act.value(2, QStringLiteral("1")).toInt(); ++i)
                ::kill(pid_t(run.processId()), SIGINT);
        }
    }
    QElapsedTimer running;
    running.start();
    QVERIFY(run.waitForFinished(60'000));
    // Every run ends in bounded time: its frames, the reply bound, and a margin for a
    // loaded machine; a silent keyboard ends the sending at once.
    QVERIFY2(running.elapsed() < 15'000, qPrintable(QString::number(running.elapsed())));
    // Within half a second of Ctrl+C; the rest is a margin for a loaded machine.
    if (act.value(0) == u"interrupt")
        QVERIFY2(sinceAction.elapsed() < 2000, qPrintable(QString::number(sinceAction.elapsed())));
    const QString out = QString::fromUtf8(run.readAll());
    QVERIFY2(out.contains(says), qPrintable(out));
    QCOMPARE(run.exitCode(), exitCode);
    if (exitCode == 2)
        return;
    if (portCount(padtest) == 1)
        QCOMPARE(out.startsWith(QStringLiteral("APROVADO")), exitCode == 0);

    if (broken != u"json") {
        QFile file(jsonPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject figures = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(figures[QStringLiteral("exit_code")].toInt(), exitCode);
        QCOMPARE(figures[QStringLiteral("verdict")].toString() == u"pass", exitCode == 0);
        if (!json.isEmpty()) {
            QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                         .arg(figures[QStringLiteral("frames_sent")].toInt())
                         .arg(figures[QStringLiteral("accepted")].toInt())
                         .arg(figures[QStringLiteral("refused")].toInt())
                         .arg(figures[QStringLiteral("other_bytes")].toInt()),
                     json);
            // The keyboard's own count agrees with ours.
            QTRY_COMPARE(sims.front()->counts(),
                         std::make_pair(figures[QStringLiteral("accepted")].toInt(),
                                        figures[QStringLiteral("refused")].toInt()));
        }
    }
    // A suite per keyboard, a case per check, each counted as its cases say; a port that
    // failed is an error.
    QProcess python;
    python.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, xml.etree.ElementTree as ET\n"
                        "root = ET.parse(sys.argv[1]).getroot()\n"
                        "def n(s, tag):\n"
                        "    return sum(c.find(tag) is not None for c in s.iter('testcase'))\n"
                        "for s in [root] + root.findall('testsuite'):\n"
                        "    assert int(s.get('tests')) == len(list(s.iter('testcase'))) > 0\n"
                        "    for tag, count in (('failure', 'failures'), ('error', 'errors'),\n"
                        "                       ('skipped', 'skipped')):\n"
                        "        assert int(s.get(count)) == n(s, tag), tag\n"
                        "print(n(root, 'failure'), n(root, 'error'))"),
         junitPath});
    QVERIFY(python.waitForFinished(30'000));
    QCOMPARE(python.exitCode(), 0);
    const QList<QByteArray> bad = python.readAllStandardOutput().trimmed().split(' ');
    QCOMPARE(bad.value(0) == "0" && bad.value(1) == "0", exitCode == 0);
    QCOMPARE(bad.value(1) != "0", exitCode == 3);
    // A run that could not tell its result does not start: it has no record to write.
    if (!broken.isEmpty())
        return;
    // The record holds what happened, to the end: every opening closed or lost, then the
    // figures of the whole file.
    QFile record(portFile(recordPath, padtest));
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray lines = record.readAll();
    QVERIFY(lines.startsWith("# PADCOM "));
    QCOMPARE(lines.count(" aberta: "), lines.count(" fechada\n") + lines.count(" perdida: "));
    QVERIFY2(lines.contains("# Números da gravação inteira:\n# Quadros enviados: "),
             lines.right(300).constData());
}

void TestPadtest::eachKeyboardInTurn()
{
    // A bench's day in short: five keyboards plugged in and taken away one after another on
    // one port, the third refusing every third frame; Ctrl+C ends the day.
    RuntimeDir runtime;
    QTemporaryDir dir;
    const QString jsonPath = dir.filePath(QStringLiteral("day.json"));
    const QString recordPath = dir.filePath(QStringLiteral("day.txt"));
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral(PADTEST_PATH),
              {QStringLiteral("7"), QStringLiteral("--each"), QStringLiteral("--frames"),
               QStringLiteral("10"), QStringLiteral("--rate"), QStringLiteral("50"),
               QStringLiteral("--station"), QStringLiteral("bancada 1"), QStringLiteral("--json"),
               jsonPath, QStringLiteral("--record"), recordPath});
    QVERIFY(run.waitForStarted());
    const auto tested = [&] {
        QFile file(jsonPath);
        return file.open(QIODevice::ReadOnly)
                   ? QJsonDocument::fromJson(file.readAll())[QStringLiteral("units_tested")].toInt()
                   : 0;
    };
    for (int i = 1; i <= 5; ++i) {
        SimulatorProcess sim;
        QStringList keyboard{QStringLiteral("--port"), QStringLiteral("7")};
        if (i == 3)
            keyboard << QStringLiteral("--refuse-every") << QStringLiteral("3");
        QVERIFY(sim.start(QStringLiteral(PADSIM_PATH), keyboard));
        QTRY_COMPARE_WITH_TIMEOUT(tested(), i, 15'000);
        sim.process().terminate();
        QVERIFY(sim.process().waitForFinished());
        // Taken away: the station sees the port go before the next keyboard comes.
        QTest::qWait(800);
    }
    ::kill(pid_t(run.processId()), SIGINT);
    QVERIFY(run.waitForFinished(10'000));
    const QString out = QString::fromUtf8(run.readAll());
    QVERIFY2(out.contains(QStringLiteral(
                 "bancada bancada 1: 5 teclados testados, 4 aprovados, 1 reprovados")),
             qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("porta 7, teclado 3: REPROVADO")), qPrintable(out));
    QCOMPARE(run.exitCode(), 1);
    QFile file(jsonPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonDocument day = QJsonDocument::fromJson(file.readAll());
    QStringList verdicts;
    for (const QJsonValue u : day[QStringLiteral("units")].toArray())
        verdicts << QStringLiteral("%1 %2")
                        .arg(u[QStringLiteral("unit")].toInt())
                        .arg(u[QStringLiteral("verdict")].toString());
    QCOMPARE(verdicts.join(u','), QStringLiteral("1 pass,2 pass,3 fail,4 pass,5 pass"));
    // One section of the record per keyboard.
    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray lines = record.readAll();
    for (int i = 1; i <= 5; ++i)
        QVERIFY(
            lines.contains(QStringLiteral("# Números do teclado %1 na porta 7:").arg(i).toUtf8()));
}

QTEST_GUILESS_MAIN(TestPadtest)
#include "tst_padtest.moc"
