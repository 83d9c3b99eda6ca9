#pragma once

#include "keyboardtest.h"
#include "unit.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What an unattended run tells: a progress line, a summary, a JSON file with the figures and
// the verdicts, a JUnit report for CI servers. All of them are made from the same results,
// so they always agree with each other and with the exit code.
namespace reports {

QString progressLine(const KeyboardTest &test);
// One keyboard's summary: the verdict, the figures, every check.
QString summary(const unit::Result &result);
// APROVADO, REPROVADO (or PORTA): one word for a keyboard's verdict.
QString verdictWord(const unit::Result &result);
// One line for a keyboard of a station: its port, its number, its verdict and why.
QString verdictLine(const unit::Result &result);
// A station's end: a line per keyboard (unless they were said as they came), then how many
// were tested, passed and failed, and the failures by reason.
QString stationSummary(const QList<unit::Result> &results, const QString &station, bool lineEach);
QByteArray json(const QList<unit::Result> &results, const QString &station);
// One test suite per keyboard, with its port, device, station and start; one case per check.
QByteArray junit(const QList<unit::Result> &results, const QString &station);

} // namespace reports
