#pragma once

#include "faults.h"

#include <QString>

#include <optional>

class QCommandLineParser;

// What padsim is asked to play, read from its command line: where, and with which faults.
struct SimOptions : Faults
{
    QString device; // a real serial port, instead of a pseudo-terminal
    int number = 0; // the port number to publish as; 0 takes the first free one
    bool paced = true;
    bool headless = false;
};

struct ParsedSimOptions
{
    std::optional<SimOptions> options;
    QString error; // one line naming the option and the value, when options is empty
};

// The options padsim takes, added to a parser.
void addSimOptions(QCommandLineParser &parser);
// Reads a parsed command line. Every number is whole and within its option's range.
ParsedSimOptions readSimOptions(const QCommandLineParser &parser);
