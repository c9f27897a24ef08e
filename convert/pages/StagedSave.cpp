#include "convert/pages/StagedSave.h"

#include "convert/pages/HtmlPage.h"
#include "convert/pages/SavedPageCheck.h"
#include "shell/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace docuflume {
namespace {

QString randomName(int bytes)
{
    QString name;
    for (int k = 0; k < bytes; ++k)
        name += QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(256), 2, 16,
                                         QLatin1Char('0'));
    return name;
}

// The run that makes staging without a ledger (the tests of the staging alone).
const QString& unrecordedRun()
{
    static const QString run = randomName(8);
    return run;
}

QString runsFolder(const QString& root)
{
    return root + QStringLiteral("/runs");
}

// Where a killed office leaves the socket of its pipe.
QString pipeSocketPrefix(const QString& runId)
{
    return QStringLiteral("OSL_PIPE_%1_docuflume-%2-").arg(::getuid()).arg(runId);
}

} // namespace

StagingLedger::StagingLedger(const QString& root) : m_root(root), m_runId(randomName(8))
{
    QDir().mkpath(runsFolder(m_root));
    removeEndedRuns();
    const QByteArray path =
        QFile::encodeName(runsFolder(m_root) + u'/' + m_runId + QStringLiteral(".lock"));
    m_lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (m_lockFd >= 0 && ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

StagingLedger::~StagingLedger()
{
    if (m_lockFd < 0)
        return;
    // Every staging folder of the run is gone by now; any left would be removed here.
    for (const QString& folder : std::as_const(m_noted))
        removeStaging(folder, m_runId);
    QFile::remove(runsFolder(m_root) + u'/' + m_runId + QStringLiteral(".lock"));
    ::close(m_lockFd);
}

void StagingLedger::note(const QString& folder)
{
    std::lock_guard lock(m_mutex);
    if (m_lockFd < 0 || m_noted.contains(folder))
        return;
    m_noted.insert(folder);
    // One line a folder, written before the folder gets staging of ours.
    const QByteArray line = folder.toUtf8() + '\n';
    [[maybe_unused]] const auto written = ::write(m_lockFd, line.constData(), size_t(line.size()));
}

void StagingLedger::removeEndedRuns()
{
    const QDir runs(runsFolder(m_root));
    for (const QString& name : runs.entryList({QStringLiteral("*.lock")}, QDir::Files)) {
        const QString runId = name.chopped(5);
        const QByteArray path = QFile::encodeName(runs.filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A run that still lives holds its lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            QFile ledger;
            if (ledger.open(fd, QIODevice::ReadOnly)) {
                for (const QByteArray& line : ledger.readAll().split('\n')) {
                    if (!line.isEmpty())
                        removeStaging(QString::fromUtf8(line), runId);
                }
            }
            const QDir sockets(QStringLiteral("/tmp"));
            for (const QString& socket :
                 sockets.entryList({pipeSocketPrefix(runId) + u'*'}, QDir::System | QDir::Files))
                QFile::remove(sockets.filePath(socket));
            QFile::remove(runs.filePath(name));
        }
        ::close(fd);
    }
}

void StagingLedger::removeStaging(const QString& folder, const QString& runId)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral(".docuflume-") + runId + u'-' + u'*'},
                                            QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        QDir(dir.filePath(name)).removeRecursively();
}

std::optional<QString> MakeStagingFolder(const QString& folder, StagingLedger* ledger)
{
    const QString run = ledger ? ledger->runId() : unrecordedRun();
    if (ledger)
        ledger->note(QDir(folder).absolutePath());
    // A name taken already (however unlikely) is drawn again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString name = QStringLiteral(".docuflume-%1-%2").arg(run, randomName(6));
        if (QDir(folder).mkdir(name))
            return QDir(folder).filePath(name);
        if (!QFileInfo::exists(QDir(folder).filePath(name)))
            return std::nullopt;
    }
    return std::nullopt;
}

namespace {

// A url as a page names a file by its path relative to the page's folder.
QString relativeUrl(const QString& path)
{
    QUrl url;
    url.setPath(path, QUrl::DecodedMode);
    QString encoded = QString::fromLatin1(url.toEncoded());
    // A first segment with a colon would read as a scheme.
    if (encoded.section(u'/', 0, 0).contains(u':'))
        encoded.prepend(QStringLiteral("./"));
    return encoded;
}

// What a url of a page written into `staging` must read once the page stands in `folder`.
std::optional<QString> relinked(const QString& url, const QString& staging, const QString& folder,
                                const QString& pageName)
{
    const std::optional<LocalTarget> found = ResolveLocalUrl(url, staging + u'/' + pageName);
    if (!found)
        return std::nullopt;
    QString now;
    if (IsWithin(found->path, staging)) {
        if (!found->absolute)
            return std::nullopt; // beside the page there as it will be beside it here
        now = relativeUrl(QDir(staging).relativeFilePath(found->path));
    } else if (IsWithin(found->path, folder)) {
        now = relativeUrl(QDir(folder).relativeFilePath(found->path));
    } else {
        if (found->absolute)
            return std::nullopt;
        now = QString::fromLatin1(QUrl::fromLocalFile(found->path).toEncoded());
    }
    return now == url ? std::nullopt : std::optional(now);
}

} // namespace

std::optional<PageProblem> SettleStagedPage(const QString& staging, const QString& target,
                                            const QString& writer, const DocumentWords* words)
{
    const QFileInfo output(target);
    const QString folder = QDir::cleanPath(output.absolutePath());
    QFile file(QDir(staging).filePath(output.fileName()));
    std::optional<qsizetype> shown;
    std::optional<QString> problem;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("the page %1 was not written").arg(output.fileName());
    } else {
        QByteArray bytes = file.readAll();
        file.close();
        HtmlPage page = ReadHtmlPage(bytes);
        const QString stagingPath = QDir::cleanPath(QDir(staging).absolutePath());
        const auto relink = [&](const QString& url) {
            return relinked(url, stagingPath, folder, output.fileName());
        };
        // Written back, and read again, only when a link changes (a linked picture).
        if (std::any_of(page.urls.cbegin(), page.urls.cend(),
                        [&](const QString& url) { return relink(url).has_value(); })) {
            if (std::optional<QByteArray> relinkedPage = RelinkPage(bytes, relink)) {
                if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                    file.write(*relinkedPage) != relinkedPage->size() || !file.flush())
                    problem = QStringLiteral("the page %1 could not be written again")
                                  .arg(output.fileName());
                file.close();
                bytes = std::move(*relinkedPage);
                page = ReadHtmlPage(bytes);
            }
        }
        if (!problem)
            problem = CheckPage(bytes, page, staging, output.fileName(), folder, &shown);
    }
    if (problem)
        return PageProblem{QStringLiteral("%1 did not save %2 soundly: %3.")
                               .arg(writer, output.fileName(), *problem)};
    // A page that could not be read whole is not judged by the part that was.
    if (words && shown) {
        if (const std::optional<qsizetype> held = LostWords(*words, *shown))
            return PageProblem{
                QStringLiteral("%1 lost the text of %2: the document holds %3 words, the page %4.")
                    .arg(writer, words->document)
                    .arg(*held)
                    .arg(*shown),
                true};
    }
    return std::nullopt;
}

void MoveStaged(const QString& stagingPath, const QString& target)
{
    const QFileInfo output(target);
    const QDir folder = output.absoluteDir();
    QDir staging(stagingPath);
    QStringList moved;
    try {
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

void CommitStaged(const QString& staging, const QString& target, const QString& writer,
                  const DocumentWords* words)
{
    if (const auto problem = SettleStagedPage(staging, target, writer, words)) {
        QDir(staging).removeRecursively();
        throw Failure(Failure::AutomationError, problem->description);
    }
    MoveStaged(staging, target);
}

void SaveStaged(const QString& target, const QString& writer,
                const std::function<void(const QString& stagedPage)>& write, StagingLedger* ledger,
                const DocumentWords* words)
{
    const QFileInfo output(target);
    const QDir folder = output.absoluteDir();
    if (!folder.exists())
        throw Failure(Failure::PathNotFound,
                      QStringLiteral("The folder %1 does not exist.").arg(folder.path()));

    const std::optional<QString> staging = MakeStagingFolder(folder.path(), ledger);
    if (!staging)
        throw Failure(Failure::PermissionDenied,
                      QStringLiteral("Cannot write into the folder %1.").arg(folder.path()));
    try {
        write(QDir(*staging).filePath(output.fileName()));
    } catch (...) {
        QDir(*staging).removeRecursively();
        throw;
    }
    CommitStaged(*staging, target, writer, words);
}

} // namespace docuflume
