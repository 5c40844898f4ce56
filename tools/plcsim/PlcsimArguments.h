#pragma once

#include "PlcSimulator.h"

#include <QString>
#include <QStringList>

// plcsim's command line, parsed apart from main() so that it can be tested and fuzzed
// without starting a simulator.
struct PlcsimArguments
{
    PlcSimulator::Options options;
    QStringList shares;   // --reject as given, for the start-up line
    QString station;      // --station, empty for the parent of the working directory
    QString device;       // --device, empty for a new pseudo-terminal
    QString link;         // --link, absolute
    QString control;      // --control, absolute
    bool help = false;
    QString helpText;
    QString error;        // why the command line was refused; empty when it was not
};

// args[0] is the program name. Returns false with error set for a command line that
// plcsim refuses (exit code 2).
bool parsePlcsimArguments(const QStringList &args, PlcsimArguments &out);
