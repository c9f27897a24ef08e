#pragma once

#include <QStringList>

#include <optional>

namespace docuflume {

// What `--convert` asks for: the documents converted without a window.
struct ConvertRequest
{
    QStringList paths; // files and folders, absolute, in the order given
    QString output;    // the output folder, absolute
    QString report;    // where the report goes (a shard's own name), or empty for none
    bool filtered = false;
    int shard = 0; // this run converts the documents at positions shard, shard + shards, ...
    int shards = 1;
};

// What the program was started with: files and folders to put into the list, a conversion
// without a window, or one of the few options, which answer and end the program.
struct CommandLine
{
    QStringList paths; // absolute, in the order given; ones that do not exist left out
    std::optional<ConvertRequest> convert;
    std::optional<int> exitCode; // set when the program ends at once
    QString output;              // printed to standard output before it ends
    QString error;               // printed to standard error before it ends
};

// `arguments` holds the program's own name first, as argv does. Read before the window
// system is reached, so that --help and --convert work on a machine without a display.
CommandLine ReadCommandLine(const QStringList& arguments);

} // namespace docuflume
