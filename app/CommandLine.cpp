#include "app/CommandLine.h"

#include "BuildConfig.h"

#include <QDir>
#include <QFileInfo>

namespace docuflume {

CommandLine ReadCommandLine(const QStringList& arguments)
{
    CommandLine command;
    const QString usage =
        QStringLiteral("Usage: docuflume [--help | --version] [FILE | FOLDER]...\n");
    bool optionsEnd = false;
    for (const QString& argument : arguments.mid(1)) {
        if (!optionsEnd && argument == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        if (!optionsEnd && argument.startsWith(u'-') && argument.size() > 1) {
            if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
                command.output = QStringLiteral(
                    "Usage: docuflume [FILE | FOLDER]... converts Word documents to HTML; the "
                    "files, and every file in the folders, go into its list.\n");
                command.exitCode = 0;
            } else if (argument == QLatin1String("--version")) {
                command.output = QStringLiteral("Docuflume " DOCUFLUME_VERSION "\n");
                command.exitCode = 0;
            } else {
                command.error =
                    QStringLiteral("docuflume: unknown option %1\n").arg(argument) + usage;
                command.exitCode = 2;
            }
            return command;
        }
        // A path that is not there is left out, as a drop cannot bring one.
        const QFileInfo path(argument);
        if (path.exists())
            command.paths << QDir::toNativeSeparators(path.absoluteFilePath());
    }
    return command;
}

} // namespace docuflume
