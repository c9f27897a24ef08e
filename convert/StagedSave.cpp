#include "convert/StagedSave.h"

#include "convert/SavedPageCheck.h"
#include "shell/Failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <filesystem>
#include <system_error>

namespace docuflume {

QString StagingFolderName()
{
    static std::atomic<int> made{0};
    return QStringLiteral(".docuflume-%1-%2").arg(QCoreApplication::applicationPid()).arg(++made);
}

void SaveStaged(const QString& target, const QString& writer,
                const std::function<void(const QString& stagedPage)>& write)
{
    const QFileInfo output(target);
    const QDir folder = output.absoluteDir();
    if (!folder.exists())
        throw Failure(Failure::PathNotFound,
                      QStringLiteral("The folder %1 does not exist.").arg(folder.path()));

    const QString stagingName = StagingFolderName();
    if (!folder.mkdir(stagingName))
        throw Failure(Failure::PermissionDenied,
                      QStringLiteral("Cannot write into the folder %1.").arg(folder.path()));
    QDir staging(folder.filePath(stagingName));
    QStringList moved;
    try {
        write(staging.filePath(output.fileName()));
        if (const auto problem = CheckSavedPage(staging.path(), output.fileName(), folder.path()))
            throw Failure(Failure::AutomationError,
                          QStringLiteral("%1 did not save %2 soundly: %3.")
                              .arg(writer, output.fileName(), *problem));

        QStringList files = staging.entryList(QDir::Files | QDir::Hidden);
        files.removeAll(output.fileName());
        files.append(output.fileName());
        for (const QString& name : files) {
            // Replaces an earlier file of the same name in one step.
            std::error_code error;
            std::filesystem::rename(QFileInfo(staging.filePath(name)).filesystemFilePath(),
                                    QFileInfo(folder.filePath(name)).filesystemFilePath(), error);
            if (error)
                throw Failure(
                    Failure::PermissionDenied,
                    QStringLiteral("%1 could not be written into %2.").arg(name, folder.path()));
            moved << folder.filePath(name);
        }
    } catch (...) {
        for (const QString& path : moved)
            QFile::remove(path);
        staging.removeRecursively();
        throw;
    }
    staging.removeRecursively();
}

} // namespace docuflume
