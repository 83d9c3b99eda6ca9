#include "app/frmpadcom.h"
#include "app/widgets/logview.h"
#include "app/widgets/textbox.h"
#include "serial/linesettings.h"
#include "serial/mscomm.h"
#include "serial/portmap.h"
#include "sim/announcement.h"
#include "sim/device.h"
#include "sim/simulator.h"
#include "testkit/linelog.h"
#include "testkit/simprocess.h"
#include "testkit/windowrig.h"

#include <QCheckBox>
#include <QFileInfo>
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
    void recordFailureIsToldOnce();

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
    LineLog log(comm);
    QVERIFY(comm.setCommPort(7) && comm.setPortOpen(true));
    comm.Output(QByteArray("\xA5\x05") + "Ola \xE9");
    QTRY_VERIFY((out += sim.readAllStandardOutput()).contains("|Ola é"));
    QTRY_COMPARE(log.received, QByteArray("\x06"));

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

void TestEndToEnd::recordFailureIsToldOnce()
{
    // A disk that takes nothing: the recording ends with a word; the port and the line go on.
    QVERIFY(m_rig->form->startRecording(QStringLiteral("/dev/full")));
    click("Command3");
    QTRY_VERIFY(m_rig->notice()->isVisible());
    QVERIFY(m_rig->notice()->text().contains(QStringLiteral("A gravação parou")));
    QVERIFY(!m_rig->form->session().record().isRecording());
    QVERIFY(m_rig->form->comm().PortOpen());
    click("Command4");
    QTRY_COMPARE(device().acceptedCount(), 2);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
