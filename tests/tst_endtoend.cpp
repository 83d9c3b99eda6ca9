#include "app/frmpadcom.h"
#include "app/widgets/logview.h"
#include "app/widgets/textbox.h"
#include "serial/linesettings.h"
#include "serial/mscomm.h"
#include "serial/portmap.h"
#include "sim/announcement.h"
#include "sim/device.h"
#include "sim/simulator.h"
#include "testkit/simprocess.h"
#include "testkit/windowrig.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <thread>
#include <unistd.h>

namespace {
QByteArray padded(const QByteArray &s)
{
    return s + QByteArray(LcdDevice::kColumns - s.size(), ' ');
}
} // namespace

// PADCOM's window against the virtual keyboard, through a real pseudo-terminal published
// under a port number, both paced at the line's speed.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writeShowsText();
    void clearAndCursorButtons();
    void wrongLengthRaisesNack();
    void keysCountedAndEchoed();
    void loopKeepsDisplayShowingText();
    void padsimProgram();
    void busyWindowCostsNoRefusal();
    void newClientAfterKilledOne();
    void sessionRecord_data();
    void sessionRecord();

private:
    void click(const char *name) { m_rig->click(name); }
    const LcdDevice &device() const { return m_sim->device(); }

    std::unique_ptr<WindowRig> m_rig;
    std::unique_ptr<PtySimulator> m_sim;
};

void TestEndToEnd::init()
{
    m_rig = std::make_unique<WindowRig>(WindowRig::FarEnd::None);
    QVERIFY(m_rig->isValid());
    m_sim = std::make_unique<PtySimulator>();
    QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
    m_rig->show();
    QVERIFY(m_rig->open(QString::number(m_sim->number())));
}

void TestEndToEnd::cleanup()
{
    // The window and the keyboard go; the runtime directory stays for the test's own.
    if (m_rig)
        m_rig->form.reset();
    m_sim.reset();
}

void TestEndToEnd::writeShowsText()
{
    click("Command3");
    QTRY_COMPARE(device().line(0), padded(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN "));
    QTRY_COMPARE(m_rig->get<LogView>("Text3")->text(), QStringLiteral(" 6"));
    QCOMPARE(m_rig->text("Text6"), QStringLiteral("0"));
    QCOMPARE(m_rig->text("Text7"), QStringLiteral("0"));
}

void TestEndToEnd::clearAndCursorButtons()
{
    click("Command3");
    QTRY_COMPARE(device().acceptedCount(), 1);
    click("Command4");
    QTRY_COMPARE(device().line(0), padded(""));
    QCOMPARE(int(device().cursor()), 0);
    click("Command6");
    QTRY_COMPARE(int(device().cursor()), 0x40);
    m_rig->get<TextBox>("Text1")->setText(QStringLiteral("Linha 2º"));
    click("Command3");
    QTRY_COMPARE(device().line(1), padded("Linha 2\xBA"));
    click("Command5");
    QTRY_COMPARE(int(device().cursor()), 0);
    QTRY_COMPARE(m_rig->get<LogView>("Text3")->text(), QStringLiteral(" 6 6 6 6 6"));
    QCOMPARE(device().refusedCount(), 0);
}

void TestEndToEnd::wrongLengthRaisesNack()
{
    m_rig->get<QCheckBox>("Check1")->setChecked(true);
    click("Command3");
    QTRY_COMPARE(m_rig->text("Text6"), QStringLiteral("1"));
    QCOMPARE(device().refusedCount(), 1);
    QCOMPARE(device().line(0), padded(""));
}

void TestEndToEnd::keysCountedAndEchoed()
{
    m_rig->get<QCheckBox>("eco")->setChecked(true);
    m_sim->sendKeys("OK");
    QTRY_COMPARE(m_rig->text("Text7"), QStringLiteral("2"));
    // The echo frames come back to the display, which accepts them.
    QTRY_COMPARE(device().line(0), padded("OK"));
    QTRY_COMPARE(device().acceptedCount(), 2);
    QTRY_VERIFY(m_rig->get<LogView>("Text3")->text().endsWith(QStringLiteral(" 6")));
    QCOMPARE(m_rig->text("Text7"),
             QStringLiteral("2")); // acks are not counted
}

void TestEndToEnd::loopKeepsDisplayShowingText()
{
    QTest::mouseClick(m_rig->get<QWidget>("Label5"), Qt::LeftButton);
    click("Command7"); // 100 ms, 84 bytes a tick: just inside what 9600 baud carries
    QTRY_VERIFY_WITH_TIMEOUT(device().acceptedCount() >= 10, 5000);
    click("Command7");
    QCOMPARE(device().refusedCount(), 0);
    QCOMPARE(device().line(0) + device().line(1), QByteArray("0123456789").repeated(8));
    QVERIFY(!m_rig->notice()->isVisible()); // no tick had to be skipped
}

void TestEndToEnd::padsimProgram()
{
    // Free this test's port, so the program takes the same, lowest number.
    cleanup();
    QProcess sim;
    sim.setProgram(QStringLiteral(PADSIM_PATH));
    sim.setArguments({QStringLiteral("--headless"), QStringLiteral("--port"), QStringLiteral("7")});
    sim.start();
    QVERIFY(sim.waitForStarted());
    QByteArray out;
    QTRY_VERIFY((out += sim.readAllStandardOutput())
                    .contains(announcement::text(QStringLiteral("7")).toUtf8()));
    QVERIFY(QFileInfo(ports::linkPath(7)).isSymLink());

    MSComm comm;
    QVERIFY(comm.setCommPort(7) && comm.setPortOpen(true));
    comm.Output(QByteArray("\xA5\x05") + "Ola \xE9");
    QTRY_VERIFY((out += sim.readAllStandardOutput()).contains("|Ola é"));
    QTRY_COMPARE(comm.InBufferCount(), 1);
    QCOMPARE(comm.Input(), QByteArray("\x06"));

    // A second simulator takes the next number.
    QProcess second;
    second.setProgram(QStringLiteral(PADSIM_PATH));
    second.setArguments({QStringLiteral("--headless")});
    second.start();
    QByteArray out2;
    QTRY_VERIFY(announcement::number(QString::fromUtf8(out2 += second.readAllStandardOutput())));
    QVERIFY(announcement::number(QString::fromUtf8(out2)) != 7);
    second.terminate();
    QVERIFY(second.waitForFinished());

    sim.terminate(); // SIGTERM
    QVERIFY(sim.waitForFinished());
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFileInfo(ports::linkPath(7)).isSymLink());
    QVERIFY(!QFileInfo::exists(ports::linkPath(7) + QStringLiteral(".lock")));
}

void TestEndToEnd::busyWindowCostsNoRefusal()
{
    // The keyboard refuses a frame whose bytes stop for 50 ms. Keep the window's thread
    // busy 100-300 ms right after sends, by the buttons and inside a loop.
    cleanup();
    SimulatorProcess sim;
    QVERIFY(sim.start(QStringLiteral(PADSIM_PATH)));
    m_rig->show();
    QVERIFY(m_rig->open(QString::number(sim.number())));

    QRandomGenerator random(7);
    const auto busy = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(100, 301)));
    };
    click("Command3");
    busy();
    QTest::mouseClick(m_rig->get<QWidget>("Label5"), Qt::LeftButton);
    click("Command3");
    busy();
    int ticks = 0;
    connect(&m_rig->form->timer(), &LineTimer::Timer, this, [&] {
        if (++ticks % 3 == 0)
            busy();
    });
    click("Command7");
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 15, 10000);
    click("Command7");
    QTRY_VERIFY_WITH_TIMEOUT(sim.counts().first >= 2 + ticks, 5000);
    QCOMPARE(sim.counts().second, 0);
    QCOMPARE(m_rig->text("Text6"), QStringLiteral("0"));
}

void TestEndToEnd::newClientAfterKilledOne()
{
    // A client killed while it held the port in exclusive mode must not lock out the next
    // one. Exclusive mode stops ordinary users only, so the clients run as one. Another
    // simulator on the device plays the client: it opens the port as PADCOM does.
    cleanup();
    QStringList asUser;
    QTemporaryDir runtime;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv is missing: cannot run as an ordinary user");
        asUser = {setpriv, QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                  QStringLiteral("--clear-groups")};
        QVERIFY(::chown(QFile::encodeName(runtime.path()).constData(), 65534, 65534) == 0);
    }
    const auto run = [&](QProcess &p, const QStringList &arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QDir::tempPath());
        const QStringList command = asUser + QStringList{QStringLiteral(PADSIM_PATH)} + arguments;
        p.start(command.first(), command.mid(1));
        return p.waitForStarted();
    };
    QProcess host;
    QVERIFY(
        run(host, {QStringLiteral("--headless"), QStringLiteral("--port"), QStringLiteral("3")}));
    QByteArray out;
    QTRY_COMPARE_WITH_TIMEOUT(
        announcement::number(QString::fromUtf8(out += host.readAllStandardOutput())), 3, 5000);
    const QString device
        = QFileInfo(runtime.path() + QStringLiteral("/padcom/com3")).symLinkTarget();
    QVERIFY(!device.isEmpty());

    for (int round = 0; round < 2; ++round) {
        QProcess client;
        QVERIFY(run(client, {QStringLiteral("--headless"), QStringLiteral("--device"), device}));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += client.readAllStandardOutput() + client.readAllStandardError())
                    .contains(announcement::text(device).toUtf8())
                || said.contains("padsim:"),
            5000);
        QVERIFY2(said.contains(announcement::text(device).toUtf8()), said.constData());
        client.kill(); // SIGKILL: no chance to leave exclusive mode
        QVERIFY(client.waitForFinished());
    }
    host.terminate();
    QVERIFY(host.waitForFinished());
}

namespace {
// What a record says the line carried: the bytes each way, the replies' latencies, and the
// figures it ends with, read back from either format.
struct Read
{
    QByteArray sent;
    QByteArray received;
    QList<double> latenciesMs;
    QString figures;
};

Read readRecord(const QString &path)
{
    QFile file(path);
    Read r;
    if (!file.open(QIODevice::ReadOnly))
        return r;
    const bool json = path.endsWith(QStringLiteral(".jsonl"));
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
            if (event == QStringLiteral("figures"))
                r.figures = QStringLiteral("%1 %2 %3")
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
            if (at >= 0)
                r.latenciesMs << text.mid(at + 9).section(u' ', 0, 0).toDouble();
        }
        if (text.startsWith(QStringLiteral("# Quadros enviados: ")))
            r.figures = text.mid(20);
        else if (text.startsWith(QStringLiteral("# Aceitos (06): ")))
            r.figures += u' ' + text.mid(16);
        else if (text.startsWith(QStringLiteral("# Recusados (15): ")))
            r.figures += u' ' + text.mid(18);
    }
    return r;
}
} // namespace

void TestEndToEnd::sessionRecord_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<int>("refuseEvery");

    QTest::newRow("text, answers 20 ms late, refuses every 3rd")
        << QStringLiteral("session.txt") << 20 << 3;
    QTest::newRow("JSON Lines, answers 5 ms late, refuses every 4th")
        << QStringLiteral("session.jsonl") << 5 << 4;
    QTest::newRow("a disk that takes nothing") << QStringLiteral("/dev/full") << 5 << 0;
}

void TestEndToEnd::sessionRecord()
{
    QFETCH(QString, file);
    QFETCH(int, replyDelayMs);
    QFETCH(int, refuseEvery);
    const auto byteTime = LineSettings().byteTime();
    m_sim->keyboard().setReplyDelay(std::chrono::milliseconds(replyDelayMs));
    m_sim->keyboard().setRefuseEvery(refuseEvery);
    QByteArray replied;
    connect(&m_sim->keyboard(), &VirtualKeyboard::reply, this,
            [&replied](const QByteArray &b) { replied += b; });
    QTemporaryDir dir;
    const QString path = file.startsWith(u'/') ? file : dir.filePath(file);
    QVERIFY(m_rig->form->startRecording(path));
    QTest::qWait(100); // the window has drawn itself: the keyboard, on its thread, reads on time

    // One frame at a time, each answered before the next: every reply has one frame to
    // answer, and the keyboard's history holds them all.
    constexpr int kFrames = 6;
    for (int i = 0; i < kFrames; ++i) {
        click(i % 2 == 0 ? "Command3" : "Command4");
        QTRY_COMPARE(m_rig->form->figures().accepted() + m_rig->form->figures().refused(),
                     qint64(i + 1));
    }
    const SessionFigures &figures = m_rig->form->figures();
    QCOMPARE(figures.framesSent(), qint64(kFrames));
    QCOMPARE(figures.accepted(), qint64(device().acceptedCount()));
    QCOMPARE(figures.refused(), qint64(device().refusedCount()));
    QCOMPARE(figures.refused(), qint64(refuseEvery > 0 ? kFrames / refuseEvery : 0));

    if (file.startsWith(u'/')) {
        // The recording ends with a word; the port and the line go on.
        QTRY_VERIFY(m_rig->notice()->isVisible());
        QVERIFY(m_rig->notice()->text().contains(QStringLiteral("A gravação parou")));
        QVERIFY(!m_rig->form->sessionRecord().isRecording());
        QVERIFY(m_rig->form->comm().PortOpen());
        return;
    }
    m_rig->form->stopRecording();
    const Read record = readRecord(path);
    QByteArray seen;
    for (const LcdDevice::Frame &f : device().history())
        seen += f.bytes;
    QCOMPARE(record.sent, seen);
    QCOMPARE(record.received, replied);
    QCOMPARE(record.figures, QStringLiteral("%1 %2 %3")
                                 .arg(kFrames)
                                 .arg(device().acceptedCount())
                                 .arg(device().refusedCount()));
    QCOMPARE(record.latenciesMs.size(), kFrames);
    // From the frame's last byte on the line to the reply: never sooner than the keyboard
    // waited, less a byte's time. The keyboard shares this thread with the window, so a
    // loaded machine delays replies by some milliseconds: the text frames' median may run
    // late by that much, never by a frame's 41 bytes (which a clock read at the hand-over
    // instead of the wire would add).
    const double byteMs = std::chrono::duration<double, std::milli>(byteTime).count();
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

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
