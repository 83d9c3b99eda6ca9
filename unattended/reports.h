#pragma once

#include "keyboardtest.h"

#include <QByteArray>
#include <QString>

// What an unattended run tells: a progress line, a summary table, a JSON file with the
// figures and the verdict, a JUnit report for CI servers.
namespace reports {

QString progressLine(const KeyboardTest &test);
QString summary(const KeyboardTest &test);
QByteArray json(const KeyboardTest &test);
// One test case per check; `seconds` the run's length.
QByteArray junit(const KeyboardTest &test, double seconds);
// The exit code: 0 pass, 1 fail, 3 the port could not be opened or was lost.
int exitCode(const KeyboardTest &test);

} // namespace reports
