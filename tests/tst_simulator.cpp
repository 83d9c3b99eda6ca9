#include "sim/simulator.h"
#include "testkit/runtimedir.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

// The virtual keyboard on its pseudo-terminal, as a serial program meets it.
class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void staleRepliesWaitForEachProgram();
};

void TestSimulator::staleRepliesWaitForEachProgram()
{
    RuntimeDir runtime;
    PtySimulator sim;
    sim.setStaleReplies(3);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QSignalSpy released(&sim.line(), &PtyEnd::released);
    const QByteArray stale(3, '\x06');
    for (int program = 1; program <= 2; ++program) {
        QSerialPort port;
        port.setPortName(sim.devicePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        // Opening the port as Qt does leaves them to be read; they are not replies to us.
        QByteArray got;
        QTRY_COMPARE_WITH_TIMEOUT(got += port.readAll(), stale, 2000);
        port.write("\xA0\x01");
        QTRY_COMPARE_WITH_TIMEOUT(got += port.readAll(), stale + '\x06', 2000);
        // A reply left unread goes with the program that left it: the next finds the same.
        port.write("\xA0\x80");
        QTRY_COMPARE_WITH_TIMEOUT(port.bytesAvailable(), qint64(1), 2000);
        port.close();
        QTRY_COMPARE_WITH_TIMEOUT(released.count(), program, 2000);
    }
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
