#pragma once

#include "protocol/replies.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// What an unattended run is asked to do, read from its command line.
struct TestOptions
{
    QStringList ports;  // every port of the station, as typed into the window's number box
    QString port;       // the one a test runs on
    bool each = false;  // one keyboard after another on every port, until Ctrl+C
    QString station;    // the bench's name, for the reports
    QString text;       // the display text (the window's initial text unless told)
    int frames = 100;   // text frames to send; 0: run for `seconds`
    int seconds = 0;    // how long to send; 0: send `frames`
    int rateMs = 100;   // the loop's rate
    int wrongEvery = 0; // every n-th text frame with the wrong length; 0: none
    // A frame unanswered for this long fails.
    int maxLatencyMs = int(replies::kDefaultBound.count());
    QString json, junit, record; // files to write, if given
};

struct ParsedOptions
{
    std::optional<TestOptions> options;
    QString error; // in the user's language, when options is empty
};

// The options padtest takes, added to a parser.
void addTestOptions(QCommandLineParser &parser);
// Reads a parsed command line. Ports as positional arguments or --port, each a number the
// window takes, none twice. Frames and seconds: at most one.
// The rate, as the window takes it but never 0 (which would flood the line): 1 to 65535 ms.
ParsedOptions readTestOptions(const QCommandLineParser &parser);
// A file of a station's port: `path` itself for one port, else with the port's number before
// its suffix ("sessao.txt" becomes "sessao-5.txt").
QString portFile(const QString &path, const QString &port, qsizetype ports);
