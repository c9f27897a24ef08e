#include "convert/StagedSave.h"

#include "convert/SavedPageCheck.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace docuflume {

QString StagingFolderName()
{
    static std::atomic<int> made{0};
    return QStringLiteral(".docuflume-%1-%2").arg(QCoreApplication::applicationPid()).arg(++made);
}

std::optional<QString> MakeStagingFolder(const QString& folder)
{
    const QString name = StagingFolderName();
    if (!QDir(folder).mkdir(name))
        return std::nullopt;
    return QDir(folder).filePath(name);
}

void RemoveLeftStaging(const QString& folder)
{
    static const QRegularExpression ours(QStringLiteral("^\\.docuflume-(\\d+)-\\d+$"));
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = ours.match(name);
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        // A program that still runs may be saving into its folder right now.
        if (pid == QCoreApplication::applicationPid() || fs::processRunning(pid))
            continue;
        QDir(dir.filePath(name)).removeRecursively();
    }
}

void RemoveLeftStagingOnce(const QString& folder)
{
    static std::mutex mutex;
    static QSet<QString> cleaned;
    {
        std::lock_guard lock(mutex);
        if (cleaned.contains(folder))
            return;
        cleaned.insert(folder);
    }
    RemoveLeftStaging(folder);
}

void CommitStaged(const QString& stagingPath, const QString& target, const QString& writer)
{
    const QFileInfo output(target);
    const QDir folder = output.absoluteDir();
    QDir staging(stagingPath);
    QStringList moved;
    try {
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

void SaveStaged(const QString& target, const QString& writer,
                const std::function<void(const QString& stagedPage)>& write)
{
    const QFileInfo output(target);
    const QDir folder = output.absoluteDir();
    if (!folder.exists())
        throw Failure(Failure::PathNotFound,
                      QStringLiteral("The folder %1 does not exist.").arg(folder.path()));

    // A program killed in the middle of a save left its staging here.
    RemoveLeftStagingOnce(folder.path());
    const std::optional<QString> staging = MakeStagingFolder(folder.path());
    if (!staging)
        throw Failure(Failure::PermissionDenied,
                      QStringLiteral("Cannot write into the folder %1.").arg(folder.path()));
    try {
        write(QDir(*staging).filePath(output.fileName()));
    } catch (...) {
        QDir(*staging).removeRecursively();
        throw;
    }
    CommitStaged(*staging, target, writer);
}

} // namespace docuflume
