#pragma once

#include "record/figures.h"

#include <QDateTime>
#include <QList>
#include <QString>

// One keyboard tested on one port, as every report tells it.
namespace unit {

enum class Verdict { Running, Pass, Fail, PortFailed };

// One thing a test checks.
struct Check
{
    enum class Status { Passed, Failed, Skipped, Error };
    QString name;
    Status status = Status::Passed;
    QString message; // why it failed, or why it did not run
};

struct Result
{
    QString port;   // as typed
    QString device; // the system's device, once the port opened
    int number
        = 0; // the keyboard's number on its port, from 1, when a port tests one after another
    QDateTime started;
    double seconds = 0;
    Verdict verdict = Verdict::Running;
    QString reason; // the first failure, in the user's language; empty for a pass
    QList<Check> checks;
    Figures figures;
    qint64 textFrames = 0;
    qint64 wrongFrames = 0;
};

// The verdict and its reason as the checks give them: a port in error, then any failure.
Verdict verdictOf(const QList<Check> &checks);
QString reasonOf(const QList<Check> &checks);
// The exit code of units together: 0 when every one passed, else the worst (3 over 1).
int exitCode(const QList<Result> &results);
int exitCode(Verdict verdict);

} // namespace unit
