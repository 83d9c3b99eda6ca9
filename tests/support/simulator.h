#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <utility>

// The real simulator in its own process, whose clock the window's thread cannot stop.
struct Simulator
{
    QProcess process;
    QByteArray out;
    int number = 0;

    bool start(const QStringList &arguments)
    {
        process.setProgram(QStringLiteral(PADSIM_PATH));
        process.setArguments(QStringList{QStringLiteral("--headless")} + arguments);
        process.start();
        if (!process.waitForStarted())
            return false;
        QRegularExpression published(QStringLiteral("na porta (\\d+)"));
        for (int i = 0; i < 100 && !number; ++i) {
            process.waitForReadyRead(50);
            out += process.readAllStandardOutput();
            number = published.match(QString::fromUtf8(out)).captured(1).toInt();
        }
        return number > 0;
    }
    // The last "aceitos N recusados M" the simulator printed.
    std::pair<int, int> counts()
    {
        out += process.readAllStandardOutput();
        const auto all = QRegularExpression(QStringLiteral("aceitos (\\d+)  recusados (\\d+)"))
                             .globalMatch(QString::fromUtf8(out));
        std::pair<int, int> last{-1, -1};
        for (auto it = all; it.hasNext();) {
            const auto m = it.next();
            last = {m.captured(1).toInt(), m.captured(2).toInt()};
        }
        return last;
    }
    ~Simulator()
    {
        process.terminate();
        process.waitForFinished();
    }
};
