#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

// padsim in a process of its own, whose clock a busy caller cannot stop: for the tests and
// benchmarks that need the keyboard to keep its own time. It runs headless and is read by
// what it prints.
class SimulatorProcess
{
public:
    ~SimulatorProcess();

    // Starts `program` (padsim) and waits for it to publish its port.
    bool start(const QString &program, const QStringList &arguments = {});
    int number() const { return m_number; }
    QProcess &process() { return m_process; }
    // Everything it printed so far.
    QByteArray output();
    // The last "aceitos N  recusados M" it printed; -1, -1 before any.
    std::pair<int, int> counts();

private:
    QProcess m_process;
    QByteArray m_out;
    int m_number = 0;
};
