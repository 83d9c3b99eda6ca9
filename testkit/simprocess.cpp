#include "simprocess.h"

#include "sim/announcement.h"

#include <QRegularExpression>

bool SimulatorProcess::start(const QString &program, const QStringList &arguments)
{
    m_process.setProgram(program);
    m_process.setArguments(QStringList{QStringLiteral("--headless")} + arguments);
    m_process.start();
    if (!m_process.waitForStarted())
        return false;
    for (int i = 0; i < 100 && !m_number; ++i) {
        m_process.waitForReadyRead(50);
        m_number = announcement::number(QString::fromUtf8(output()));
    }
    return m_number > 0;
}

QByteArray SimulatorProcess::output()
{
    m_out += m_process.readAllStandardOutput();
    return m_out;
}

std::pair<int, int> SimulatorProcess::counts()
{
    static const QRegularExpression counted(QStringLiteral("aceitos (\\d+)  recusados (\\d+)"));
    std::pair<int, int> last{-1, -1};
    for (auto it = counted.globalMatch(QString::fromUtf8(output())); it.hasNext();) {
        const auto m = it.next();
        last = {m.captured(1).toInt(), m.captured(2).toInt()};
    }
    return last;
}

SimulatorProcess::~SimulatorProcess()
{
    m_process.terminate();
    m_process.waitForFinished();
}
