#pragma once

#include <QStringList>

#include <optional>

namespace docuflume {

// What the program was started with: files and folders to put into the list, or one of
// the few options, which answer and end the program.
struct CommandLine
{
    QStringList paths;           // absolute, in the order given; ones that do not exist left out
    std::optional<int> exitCode; // set when the program ends at once
    QString output;              // printed to standard output before it ends
    QString error;               // printed to standard error before it ends
};

// `arguments` holds the program's own name first, as argv does. Read before the window
// system is reached, so that --help answers on a machine without a display.
CommandLine ReadCommandLine(const QStringList& arguments);

} // namespace docuflume
