#include "app/CommandLine.h"

#include "BuildConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace docuflume {
namespace {

const QString kUsage = QStringLiteral(
    "Usage: docuflume [FILE | FOLDER]...\n"
    "       docuflume --convert [--filtered] --output DIR [--report FILE] [--shard K/N] "
    "FILE | FOLDER...\n");

const QString kHelp = QStringLiteral(
    "Usage: docuflume [FILE | FOLDER]... converts Word documents to HTML; the files, and every "
    "file in the folders, go into its list.\n"
    "       docuflume --convert [OPTION]... FILE | FOLDER... converts them without a window.\n"
    "\n"
    "  --convert        convert the files, and every Word file in the folders' trees, without\n"
    "                   a window; progress goes to standard error; the status is 0 when every\n"
    "                   document converted, 1 when any failed, 2 for a usage error\n"
    "  --output DIR     the folder the pages go into (made when it is not there)\n"
    "  --filtered       Filtered HTML (the page alone) instead of Normal\n"
    "  --report FILE    a CSV report, a row per document: source, page, status, failure\n"
    "                   class and text, seconds, words in the page\n"
    "  --shard K/N      only the documents at positions K, K+N, K+2N, ... (from 0) of the\n"
    "                   sorted list, so that N runs share one job; the report's name gets\n"
    "                   -K-of-N before its extension\n"
    "  --help           this help\n"
    "  --version        the version\n");

CommandLine usageError(const QString& complaint)
{
    CommandLine command;
    command.error = QStringLiteral("docuflume: ") + complaint + u'\n' + kUsage;
    command.exitCode = 2;
    return command;
}

QString absolute(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// "report.csv" as shard K of N writes it: "report-K-of-N.csv".
QString shardReport(const QString& report, int shard, int shards)
{
    const QFileInfo file(report);
    const QString name = file.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString mark = QStringLiteral("-%1-of-%2").arg(shard).arg(shards);
    const QString named = dot > 0 ? name.first(dot) + mark + name.sliced(dot) : name + mark;
    return QDir::toNativeSeparators(file.absoluteDir().filePath(named));
}

CommandLine readConvert(const QStringList& arguments)
{
    ConvertRequest request;
    bool optionsEnd = false;
    bool shardGiven = false;
    QString report;
    for (qsizetype k = 1; k < arguments.size(); ++k) {
        QString argument = arguments[k];
        if (optionsEnd || !argument.startsWith(u'-') || argument.size() == 1) {
            if (!QFileInfo::exists(argument))
                return usageError(argument + QStringLiteral(": no such file or folder"));
            request.paths << absolute(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        // "--output DIR" or "--output=DIR".
        QString value;
        const qsizetype equals = argument.indexOf(u'=');
        const bool joined = equals > 0;
        if (joined) {
            value = argument.sliced(equals + 1);
            argument.truncate(equals);
        }
        const auto takeValue = [&]() -> std::optional<QString> {
            if (joined)
                return value;
            if (k + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++k];
        };
        if (argument == QLatin1String("--convert") && !joined)
            continue;
        if (argument == QLatin1String("--filtered") && !joined) {
            request.filtered = true;
        } else if (argument == QLatin1String("--output") || argument == QLatin1String("--report")) {
            const std::optional<QString> given = takeValue();
            if (!given || given->isEmpty())
                return usageError(argument + QStringLiteral(" needs a path"));
            (argument == QLatin1String("--output") ? request.output : report) = absolute(*given);
        } else if (argument == QLatin1String("--shard")) {
            const std::optional<QString> given = takeValue();
            static const QRegularExpression form(QStringLiteral("^(\\d{1,6})/(\\d{1,6})$"));
            const QRegularExpressionMatch parts = form.match(given.value_or(QString()));
            if (!parts.hasMatch() || parts.captured(2).toInt() < 1 ||
                parts.captured(1).toInt() >= parts.captured(2).toInt())
                return usageError(QStringLiteral("--shard needs K/N with 0 <= K < N"));
            request.shard = parts.captured(1).toInt();
            request.shards = parts.captured(2).toInt();
            shardGiven = true;
        } else {
            return usageError(QStringLiteral("unknown option ") + arguments[k]);
        }
    }
    if (request.output.isEmpty())
        return usageError(QStringLiteral("--convert needs --output DIR"));
    if (QFileInfo(request.output).exists() && !QFileInfo(request.output).isDir())
        return usageError(request.output + QStringLiteral(" is not a folder"));
    if (request.paths.isEmpty())
        return usageError(QStringLiteral("--convert needs a file or folder to convert"));
    if (!report.isEmpty())
        request.report = shardGiven ? shardReport(report, request.shard, request.shards) : report;
    CommandLine command;
    command.convert = request;
    return command;
}

} // namespace

CommandLine ReadCommandLine(const QStringList& arguments)
{
    const qsizetype optionsEnd = arguments.indexOf(QStringLiteral("--"));
    const QStringList options = arguments.mid(1, optionsEnd < 0 ? -1 : optionsEnd - 1);
    CommandLine command;
    if (options.contains(QStringLiteral("--help")) || options.contains(QStringLiteral("-h"))) {
        command.output = kHelp;
        command.exitCode = 0;
        return command;
    }
    if (options.contains(QStringLiteral("--convert")))
        return readConvert(arguments);

    bool pastOptions = false;
    for (const QString& argument : arguments.mid(1)) {
        if (!pastOptions && argument == QLatin1String("--")) {
            pastOptions = true;
            continue;
        }
        if (!pastOptions && argument.startsWith(u'-') && argument.size() > 1) {
            if (argument == QLatin1String("--version")) {
                command.output = QStringLiteral("Docuflume " DOCUFLUME_VERSION "\n");
                command.exitCode = 0;
            } else {
                return usageError(QStringLiteral("unknown option ") + argument);
            }
            return command;
        }
        // A path that is not there is left out, as a drop cannot bring one.
        const QFileInfo path(argument);
        if (path.exists())
            command.paths << absolute(argument);
    }
    return command;
}

} // namespace docuflume
