#include "pty/portpublisher.h"
#include "serial/portmap.h"
#include "testkit/ptypeer.h"
#include "testkit/runtimedir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPortInfo>
#include <QTest>

#include <sys/file.h>

class TestPortMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void windowsNames();
    void publishedLinkNamesPort();
    void lowestFreeNumberTaken();
    void unpublishRemovesLink();
    void abandonedLinkIgnoredAndReplaced();
    void handMadeLinkRespected();
    void explicitNumberInUseRefused();
    void tableListsPorts();
    void devicesInNaturalOrder_data();
    void devicesInNaturalOrder();

private:
    RuntimeDir m_runtime;
    int m_system = 0;
};

void TestPortMap::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    QVERIFY(ports::linkDirectory().startsWith(m_runtime.path()));
    m_system = int(QSerialPortInfo::availablePorts().size());
}

void TestPortMap::cleanup()
{
    QDir(ports::linkDirectory()).removeRecursively();
}

void TestPortMap::windowsNames()
{
#ifdef Q_OS_WIN
    QCOMPARE(ports::deviceFor(3), QStringLiteral("COM3"));
    QCOMPARE(ports::deviceFor(12), QStringLiteral("COM12"));
#else
    QSKIP("Windows names ports COMn; this system uses devices and links");
#endif
}

void TestPortMap::publishedLinkNamesPort()
{
    PtyPeer pty;
    PortPublisher publisher;
    QVERIFY2(publisher.publish(pty.slavePath(), 7), qPrintable(publisher.errorString()));
    QCOMPARE(publisher.number(), 7);
    QCOMPARE(ports::deviceFor(7), QFileInfo(pty.slavePath()).canonicalFilePath());
    QCOMPARE(QFileInfo(ports::linkDirectory()).permissions()
                 & (QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
}

void TestPortMap::lowestFreeNumberTaken()
{
    PtyPeer a, b;
    PortPublisher first, second;
    QVERIFY(first.publish(a.slavePath()));
    QVERIFY(second.publish(b.slavePath()));
    QCOMPARE(first.number(), m_system + 1);
    QCOMPARE(second.number(), m_system + 2);
    first.unpublish();
    PortPublisher third;
    QVERIFY(third.publish(a.slavePath()));
    QCOMPARE(third.number(), m_system + 1);
}

void TestPortMap::unpublishRemovesLink()
{
    PtyPeer pty;
    {
        PortPublisher publisher;
        QVERIFY(publisher.publish(pty.slavePath(), 4));
        QVERIFY(QFileInfo(ports::linkPath(4)).isSymLink());
    }
    QVERIFY(!QFileInfo(ports::linkPath(4)).isSymLink());
    QVERIFY(!ports::deviceFor(4) || m_system >= 4);
}

void TestPortMap::abandonedLinkIgnoredAndReplaced()
{
    // A publisher that died: its link still points at a live terminal, its lock is free.
    PtyPeer stale, fresh;
    QVERIFY(linkPort(3, stale.slavePath()));
    QFile lock(ports::linkPath(3) + QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.close();
    QVERIFY(!ports::deviceFor(3));
    QVERIFY(ports::lookup(3).problem.contains(QStringLiteral("já terminou")));

    PortPublisher publisher;
    QVERIFY2(publisher.publish(fresh.slavePath(), 3), qPrintable(publisher.errorString()));
    QCOMPARE(ports::deviceFor(3), QFileInfo(fresh.slavePath()).canonicalFilePath());
}

void TestPortMap::handMadeLinkRespected()
{
    PtyPeer mine, sim;
    QVERIFY(linkPort(m_system + 1, mine.slavePath()));
    QCOMPARE(ports::deviceFor(m_system + 1), QFileInfo(mine.slavePath()).canonicalFilePath());
    PortPublisher publisher;
    QVERIFY(!publisher.publish(sim.slavePath(), m_system + 1));
    QVERIFY(publisher.publish(sim.slavePath()));
    QCOMPARE(publisher.number(), m_system + 2);
    QCOMPARE(ports::deviceFor(m_system + 1), QFileInfo(mine.slavePath()).canonicalFilePath());
}

void TestPortMap::explicitNumberInUseRefused()
{
    PtyPeer a, b;
    PortPublisher first, second;
    QVERIFY(first.publish(a.slavePath(), 9));
    QVERIFY(!second.publish(b.slavePath(), 9));
    QVERIFY(!second.errorString().isEmpty());
    QCOMPARE(ports::deviceFor(9), QFileInfo(a.slavePath()).canonicalFilePath());
    QVERIFY(!second.publish(b.slavePath(), ports::kMaxPortNumber + 1));
}

void TestPortMap::tableListsPorts()
{
    PtyPeer a;
    PortPublisher publisher;
    QVERIFY(publisher.publish(a.slavePath(), 20));
    QVERIFY(linkPort(21, QStringLiteral("/nonexistent/tty"))); // listed, as unusable
    const QList<ports::Entry> table = ports::table();
    QCOMPARE(table.size(), m_system + 2);
    const ports::Entry &published = table[table.size() - 2];
    QCOMPARE(published.number, 20);
    QVERIFY(published.published);
    QVERIFY(published.problem.isEmpty());
    QCOMPARE(published.device, QFileInfo(a.slavePath()).canonicalFilePath());
    QCOMPARE(table.last().number, 21);
    QVERIFY(table.last().problem.contains(QStringLiteral("não existe")));
    for (qsizetype i = 0; i < m_system; ++i) {
        QCOMPARE(table[i].number, int(i) + 1);
        QVERIFY(!table[i].published);
    }
}

void TestPortMap::devicesInNaturalOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::newRow("2 before 10") << QStringLiteral("/dev/ttyS2") << QStringLiteral("/dev/ttyS10");
    QTest::newRow("9 before 10") << QStringLiteral("/dev/ttyUSB9")
                                 << QStringLiteral("/dev/ttyUSB10");
    QTest::newRow("name first") << QStringLiteral("/dev/ttyACM7") << QStringLiteral("/dev/ttyS0");
    QTest::newRow("no number first") << QStringLiteral("/dev/ttyS") << QStringLiteral("/dev/ttyS0");
    QTest::newRow("leading zero") << QStringLiteral("/dev/tty01") << QStringLiteral("/dev/tty2");
}

void TestPortMap::devicesInNaturalOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QVERIFY(ports::naturalLess(a, b));
    QVERIFY(!ports::naturalLess(b, a));
    QVERIFY(!ports::naturalLess(a, a));
}

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
