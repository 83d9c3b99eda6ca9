#include "protocol/frames.h"
#include "serial/mscomm.h"
#include "serial/portmap.h"
#include "serial/portsetup.h"
#include "testkit/framecheck.h"
#include "testkit/linelog.h"
#include "testkit/linerecorder.h"
#include "testkit/ptypeer.h"
#include "testkit/runtimedir.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

QByteArray allBytes()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    return all;
}

bool openPort(MSComm &comm, int number)
{
    return portsetup::open(comm, QString::number(number)).opened;
}

enum class Setup {
    None,
    Dangling,
    SelfLink,
    Directory,
    LinkToFolder,
    PlainFile,
    DevNull,
    Fifo,
    Abandoned,
    HeldByControl,
    HeldByFlock,
    HeldExclusive,
};

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestMSComm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void slaveIsRawAfterOpen();
    void everyByteBothWays();
    void inputIsBoundedAndLosesNothing_data();
    void inputIsBoundedAndLosesNothing();
    void batchesNotReentered();
    void closeHandsOverWhatCame();
    void refusedPorts_data();
    void refusedPorts();
    void othersSeeUsHeld();
    void noPermission();
    void vanishingDeviceReportedOnce();
    void reopenOnAnotherNumber();
    void outputOnClosedPortRefused();
    void transmitBufferBounded();
    void closeLetsFrameOnLineFinish();
    void busyThreadNeverPausesInsideFrame();

private:
    RuntimeDir m_runtime;
    std::unique_ptr<PtyPeer> m_peer;
};

void TestMSComm::initTestCase()
{
    QVERIFY(m_runtime.isValid());
}

void TestMSComm::cleanup()
{
    QDir(ports::linkDirectory()).removeRecursively();
}

void TestMSComm::init()
{
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(m_peer->isOpen());
    QVERIFY(linkPort(1, m_peer->slavePath()));
}

void TestMSComm::slaveIsRawAfterOpen()
{
    MSComm comm;
    QVERIFY2(openPort(comm, 1), qPrintable(comm.errorString()));
    const termios tio = m_peer->slaveTermios();
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(tio.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QVERIFY(comm.PortOpen());
    QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));
}

void TestMSComm::everyByteBothWays()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    LineLog log(comm);
    m_peer->send(allBytes());
    QTRY_COMPARE(log.received, allBytes());
    for (const MSComm::Event &e : log.of(MSComm::Event::Kind::Received))
        QCOMPARE(e.commEvent(), qint16(MSComm::comEvReceive));

    // Out in frames that fit the transmit buffer; the line paces them.
    QCOMPARE(comm.Output(allBytes().left(200)), MSComm::OutputResult::Queued);
    QCOMPARE(comm.Output(allBytes().mid(200)), MSComm::OutputResult::Queued);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->received(), allBytes(), 3000);
}

void TestMSComm::inputIsBoundedAndLosesNothing_data()
{
    QTest::addColumn<int>("inputLen");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("bytes");
    QTest::newRow("the whole buffer") << 0 << int(MSComm::kInBufferSize) << 5000;
    // An event every 3 bytes: fewer bytes, so that a loaded machine keeps within the wait.
    QTest::newRow("InputLen 3") << 3 << 3 << 600;
}

void TestMSComm::inputIsBoundedAndLosesNothing()
{
    QFETCH(int, inputLen);
    QFETCH(int, limit);
    QFETCH(int, bytes);
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QVERIFY(comm.setInputLen(qint16(inputLen)));
    QByteArray data;
    for (int i = 0; i < bytes; ++i)
        data.append(char(i * 7 + i / 256));
    LineLog log(comm);
    m_peer->send(data);
    QTRY_COMPARE(log.received.size(), data.size());
    QCOMPARE(log.received, data);
    for (const QByteArray &block : std::as_const(log.blocks))
        QVERIFY(block.size() <= limit);
}

void TestMSComm::batchesNotReentered()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    int depth = 0;
    int deepest = 0;
    LineLog log(comm, [&](const MSComm::Events &) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (log.batches == 1) {
            // More bytes arrive while the handler runs; they come with the next batch.
            m_peer->send("more");
            QTest::qWait(50);
        }
        --depth;
    });
    m_peer->send("x");
    QTRY_COMPARE(log.received, QByteArray("xmore"));
    QVERIFY(log.batches >= 2);
    QCOMPARE(deepest, 1);
}

void TestMSComm::closeHandsOverWhatCame()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    LineLog log(comm);
    // The line takes these from the port at once; this thread is busy until the close.
    m_peer->send("old");
    QTest::qSleep(100);
    // On their way to this thread, they are still received and unhandled.
    QCOMPARE(comm.InBufferCount(), 3);
    QVERIFY(comm.setPortOpen(false));
    // Handed over before the close returned: nothing the port took is lost to its owner.
    QCOMPARE(log.received, QByteArray("old"));
    QVERIFY(openPort(comm, 1));
    QCOMPARE(comm.InBufferCount(), 0);
    m_peer->send("new");
    QTRY_COMPARE(log.received, QByteArray("oldnew"));
}

void TestMSComm::refusedPorts_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("reason");
    // Port 1 is also the system's first serial device on most machines: a number whose
    // link cannot be used must never fall back to that device.
    QTest::newRow("zero") << 0 << Setup::None << QStringLiteral("de 1 a 99");
    QTest::newRow("out of range") << 300 << Setup::None << QStringLiteral("de 1 a 99");
    QTest::newRow("no such port") << 99 << Setup::None << QStringLiteral("não há porta");
    QTest::newRow("dangling link") << 1 << Setup::Dangling << QStringLiteral("não existe");
    QTest::newRow("link to itself") << 1 << Setup::SelfLink << QStringLiteral("nenhum dispositivo");
    QTest::newRow("directory") << 1 << Setup::Directory << QStringLiteral("não é um link");
    QTest::newRow("link to a folder") << 1 << Setup::LinkToFolder << QStringLiteral("pasta");
    QTest::newRow("plain file") << 1 << Setup::PlainFile
                                << QStringLiteral("não é uma porta serial");
    QTest::newRow("/dev/null") << 1 << Setup::DevNull << QStringLiteral("não é uma porta serial");
    QTest::newRow("fifo") << 1 << Setup::Fifo << QStringLiteral("não é uma porta serial");
    QTest::newRow("left by a dead publisher")
        << 1 << Setup::Abandoned << QStringLiteral("programa que já terminou");
    QTest::newRow("held by another control")
        << 1 << Setup::HeldByControl << QStringLiteral("em uso");
    QTest::newRow("held with flock") << 1 << Setup::HeldByFlock << QStringLiteral("em uso");
    QTest::newRow("held in exclusive mode")
        << 1 << Setup::HeldExclusive << QStringLiteral("modo exclusivo");
}

void TestMSComm::refusedPorts()
{
    QFETCH(int, number);
    QFETCH(Setup, setup);
    QFETCH(QString, reason);

    const QString dir = m_runtime.path();
    MSComm holder;
    int holderFd = -1;
    switch (setup) {
    case Setup::None:
        QFile::remove(ports::linkPath(1));
        break;
    case Setup::Dangling:
        QVERIFY(linkPort(1, QStringLiteral("/nonexistent/tty")));
        break;
    case Setup::SelfLink:
        QVERIFY(linkPort(1, ports::linkPath(1)));
        break;
    case Setup::Directory:
        QFile::remove(ports::linkPath(1));
        QVERIFY(QDir().mkpath(ports::linkPath(1)));
        break;
    case Setup::LinkToFolder:
        QVERIFY(linkPort(1, dir));
        break;
    case Setup::PlainFile: {
        QFile plain(dir + QStringLiteral("/plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QVERIFY(linkPort(1, plain.fileName()));
        break;
    }
    case Setup::DevNull:
        QVERIFY(linkPort(1, QStringLiteral("/dev/null")));
        break;
    case Setup::Fifo:
        QVERIFY(::mkfifo(QFile::encodeName(dir + QStringLiteral("/fifo")).constData(), 0600) == 0
                || errno == EEXIST);
        QVERIFY(linkPort(1, dir + QStringLiteral("/fifo")));
        break;
    case Setup::Abandoned: {
        QFile lock(ports::linkPath(1) + QStringLiteral(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        break;
    }
    case Setup::HeldByControl:
        QVERIFY(portsetup::open(holder, QStringLiteral("1")).opened);
        break;
    case Setup::HeldByFlock:
    case Setup::HeldExclusive:
        holderFd = ::open(QFile::encodeName(m_peer->slavePath()).constData(),
                          O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(holderFd >= 0);
        QVERIFY(setup == Setup::HeldByFlock ? ::flock(holderFd, LOCK_EX) == 0
                                            : ::ioctl(holderFd, TIOCEXCL) == 0);
        break;
    }

    MSComm comm;
    const portsetup::Outcome outcome = portsetup::open(comm, QString::number(number));
    if (holderFd >= 0) {
        ::ioctl(holderFd, TIOCNXCL);
        ::close(holderFd);
    }
    QVERIFY(!outcome.opened);
    QVERIFY(!comm.PortOpen());
    QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
    QCOMPARE(comm.Output("x"), MSComm::OutputResult::PortClosed);
    QTest::qWait(20);
    QCOMPARE(m_peer->received(), QByteArray());
}

void TestMSComm::othersSeeUsHeld()
{
    // Tools that take flock (pyserial's exclusive mode, tio) must see the port taken.
    MSComm comm;
    QVERIFY(portsetup::open(comm, QStringLiteral("1")).opened);
    const int fd = ::open(QFile::encodeName(m_peer->slavePath()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fd >= 0); // root passes exclusive mode
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), -1);
    ::close(fd);
    comm.setPortOpen(false);
    MSComm again;
    QVERIFY(portsetup::open(again, QStringLiteral("1")).opened);
}

void TestMSComm::noPermission()
{
    // As root nothing is forbidden: run this test again as an ordinary user.
    const QByteArray device = qgetenv("PADCOM_TEST_DEVICE");
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv is missing: cannot run as an ordinary user");
        ::chmod(QFile::encodeName(m_peer->slavePath()).constData(), 0600);
        QProcess user;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PADCOM_TEST_DEVICE"), m_peer->slavePath());
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        user.setProcessEnvironment(env);
        user.setWorkingDirectory(QDir::tempPath());
        user.start(setpriv,
                   {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                    QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                    QStringLiteral("noPermission")});
        if (!user.waitForFinished(20000) || user.exitStatus() != QProcess::NormalExit)
            QFAIL("the run as an ordinary user did not finish");
        const QByteArray out = user.readAllStandardOutput() + user.readAllStandardError();
        if (user.exitCode() == 126 || user.exitCode() == 127 || out.contains("Permission denied"))
            QSKIP(qPrintable(QStringLiteral("this test program cannot run as an ordinary user: ")
                             + QString::fromLocal8Bit(out.left(200))));
        QVERIFY2(user.exitCode() == 0, out.constData());
        QVERIFY(out.contains("PASS   : TestMSComm::noPermission()"));
        return;
    }
    if (device.isEmpty())
        QSKIP("runs as root, which starts it again as an ordinary user");
    QVERIFY(linkPort(1, QString::fromLocal8Bit(device)));
    MSComm comm;
    const portsetup::Outcome outcome = portsetup::open(comm, QStringLiteral("1"));
    QVERIFY(!outcome.opened);
    QVERIFY2(outcome.reason.contains(QStringLiteral("sem permissão")), qPrintable(outcome.reason));
}

void TestMSComm::vanishingDeviceReportedOnce()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    LineLog log(comm);
    m_peer->closeMaster();
    QTRY_COMPARE(log.of(MSComm::Event::Kind::Lost).size(), 1);
    QCOMPARE(comm.state(), MSComm::PortState::Lost);
    QVERIFY(!comm.PortOpen());
    // Closed at the first error: nothing more arrives, however long we wait.
    QTest::qWait(200);
    QCOMPARE(log.of(MSComm::Event::Kind::Lost).size(), 1);
    QVERIFY(!log.of(MSComm::Event::Kind::Lost).constFirst().reason.isEmpty());
    QCOMPARE(comm.Output("x"), MSComm::OutputResult::PortClosed);

    // The device comes back under the same number.
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(linkPort(1, m_peer->slavePath()));
    comm.setPortOpen(false);
    QVERIFY2(openPort(comm, 1), qPrintable(comm.errorString()));
    m_peer->send("ok");
    QTRY_COMPARE(log.received, QByteArray("ok"));
}

void TestMSComm::reopenOnAnotherNumber()
{
    PtyPeer other;
    QVERIFY(linkPort(2, other.slavePath()));
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QVERIFY(!comm.setCommPort(2)); // not while open
    comm.setPortOpen(false);
    QVERIFY(openPort(comm, 2));
    QCOMPARE(comm.CommPort(), qint16(2));
    QCOMPARE(comm.Output("B"), MSComm::OutputResult::Queued);
    QTRY_COMPARE(other.received(), QByteArray("B"));
    QCOMPARE(m_peer->received(), QByteArray());
    QCOMPARE(other.slaveTermios().c_cflag & CSIZE, tcflag_t(CS8));
}

void TestMSComm::outputOnClosedPortRefused()
{
    MSComm comm;
    QCOMPARE(comm.Output("\xA0\x01"), MSComm::OutputResult::PortClosed);
    QVERIFY(!comm.errorString().isEmpty());
}

void TestMSComm::transmitBufferBounded()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    LineLog log(comm);
    const QByteArray frame(100, 'x');
    for (int i = 0; i < 5; ++i)
        QCOMPARE(comm.Output(frame), MSComm::OutputResult::Queued);
    QVERIFY(comm.OutBufferCount() <= MSComm::kOutBufferSize);
    // 500 bytes wait: a frame of 100 does not fit and is not split, one of 12 does.
    QCOMPARE(comm.Output(frame), MSComm::OutputResult::BufferFull);
    QVERIFY(comm.Output(QByteArray(12, 'y')) == MSComm::OutputResult::Queued
            || comm.OutBufferCount() > 500);
    // A refused frame is an event of its own, not a receive.
    QTRY_COMPARE(log.of(MSComm::Event::Kind::TransmitFull).size(), 1);
    QCOMPARE(log.of(MSComm::Event::Kind::TransmitFull).constFirst().commEvent(),
             qint16(MSComm::comEventTxFull));
    QVERIFY(log.received.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(comm.OutBufferCount(), 0, 3000);
    QCOMPARE(m_peer->received().count('x'), 500);
}

void TestMSComm::closeLetsFrameOnLineFinish()
{
    m_peer->stopReading();
    LineRecorder far(m_peer->masterFd());
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    const QByteArray onLine = frames::text(QByteArray(80, 'a'), false);
    const QByteArray held = frames::text(QByteArray(80, 'b'), false);
    QCOMPARE(comm.Output(onLine), MSComm::OutputResult::Queued);
    QCOMPARE(comm.Output(held), MSComm::OutputResult::Queued);
    // Both wait: the second whole, the first on the line, which may already have carried a
    // byte or two by the line's clock when the machine is slow.
    const qsizetype waiting = comm.OutBufferCount();
    QVERIFY2(waiting > held.size() && waiting <= onLine.size() + held.size(),
             qPrintable(QString::number(waiting)));
    comm.setPortOpen(false);
    // The first frame went out whole; the one still waiting was dropped whole.
    far.settle(100ms, 1000ms);
    QCOMPARE(far.bytes(), onLine);
}

void TestMSComm::busyThreadNeverPausesInsideFrame()
{
    m_peer->stopReading();
    LineRecorder far(m_peer->masterFd());
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    const QByteArray text(80, 'q');
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(comm.Output(frames::command(frames::Command::Line1)),
                 MSComm::OutputResult::Queued);
        QCOMPARE(comm.Output(frames::text(text, false)), MSComm::OutputResult::Queued);
        std::this_thread::sleep_for(150ms); // the window's thread at work
        QTest::qWait(10);
    }
    QTRY_COMPARE(far.bytes().size(), 3 * 84);
    const FrameCheck check = checkFrames(far.arrivals(), {text});
    QVERIFY2(check.error.isEmpty(), qPrintable(check.error));
    QCOMPARE(check.textFrames, 3);
    QVERIFY2(check.longestGapInFrame < 20ms,
             qPrintable(QString::number(check.longestGapInFrame.count() / 1e6)));
}

QTEST_GUILESS_MAIN(TestMSComm)
#include "tst_mscomm.moc"
