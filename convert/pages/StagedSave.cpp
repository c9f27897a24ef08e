#include "convert/pages/StagedSave.h"

#include "convert/pages/HtmlPage.h"
#include "convert/pages/SavedPageCheck.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// A run's ledger ends in ".lock"; ".next" is the shorter one written to take its place.
QString ledgerFile(const QString& root, const QString& runId, const char* ending)
{
    return runsFolder(root) + u'/' + runId + QLatin1String(ending);
}

// Whether the open file is still the one the path names: a ledger replaced by a shorter one
// after it was opened is no longer its run's.
bool stillNamed(int fd, const QString& path)
{
    struct stat held = {};
    struct stat named = {};
    return ::fstat(fd, &held) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Where a killed office leaves the socket of its pipe.
QString pipeSocketPrefix(const QString& runId)
{
    return QStringLiteral("OSL_PIPE_%1_docuflume-%2-").arg(::getuid()).arg(runId);
}

// A run's name is 16 lower-case hex digits, and its staging folders' names end in 12: any
// other name in the ledger's folder or in an output folder is none of ours.
bool isRunId(const QString& name)
{
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{16}$"));
    return form.match(name).hasMatch();
}

bool isStagingOf(const QString& name, const QString& runId)
{
    static const QRegularExpression form(
        QStringLiteral("^\\.docuflume-([0-9a-f]{16})-[0-9a-f]{12}$"));
    const QRegularExpressionMatch match = form.match(name);
    return match.hasMatch() && match.captured(1) == runId;
}

// The device and number of the folder the path names, as the ledger records them; nothing
// for a link, which is never the folder a run made.
std::optional<QString> folderIdentity(const QString& path)
{
    const auto identity = QFileInfo(path).isSymLink() ? std::nullopt : fs::folderIdentity(path);
    if (!identity)
        return std::nullopt;
    return QStringLiteral("%1:%2").arg(identity->first).arg(identity->second);
}

// Removes a staging folder a run recorded: only a folder (a link named so goes as a link),
// and, where the run recorded which folder it made, only that one.
void removeRecorded(const QString& path, const std::optional<QString>& identity)
{
    if (identity) {
        const std::optional<QString> now = folderIdentity(path);
        if (now && now != identity)
            return; // another folder of that name, made since: not ours
    }
    fs::removeTree(path);
}

} // namespace

StagingLedger::StagingLedger(const QString& root) : m_root(root), m_runId(randomName(8))
{
    QDir().mkpath(runsFolder(m_root));
    removeEndedRuns();
    const QByteArray path = QFile::encodeName(ledgerFile(m_root, m_runId, ".lock"));
    m_lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (m_lockFd >= 0 && ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

StagingLedger::~StagingLedger()
{
    end();
}

void StagingLedger::end()
{
    std::lock_guard lock(m_mutex);
    if (m_lockFd < 0)
        return;
    // Every staging folder of the run is gone by now; any left would be removed here.
    for (auto staging = m_noted.cbegin(); staging != m_noted.cend(); ++staging)
        removeRecorded(staging.key(), staging.value());
    QFile::remove(ledgerFile(m_root, m_runId, ".lock"));
    ::close(m_lockFd);
    m_lockFd = -1;
}

void StagingLedger::write(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    [[maybe_unused]] const auto written =
        ::write(m_lockFd, bytes.constData(), size_t(bytes.size()));
}

void StagingLedger::note(const QString& staging)
{
    std::lock_guard lock(m_mutex);
    if (m_lockFd < 0 || m_noted.contains(staging))
        return;
    m_noted.insert(staging, std::nullopt);
    // Its name before it is made, then which folder was made.
    write(staging);
    // A long run notes a folder or two per document, each gone again within it: looked
    // over once the notes have doubled, they stay as few as the folders that live.
    if (m_noted.size() >= 2 * m_keptAtLastLook + 64)
        forgetRemoved();
}

void StagingLedger::made(const QString& staging)
{
    std::lock_guard lock(m_mutex);
    const std::optional<QString> identity = folderIdentity(staging);
    if (m_lockFd < 0 || !identity)
        return;
    m_noted.insert(staging, identity);
    write(staging + u'\t' + *identity);
}

void StagingLedger::notMade(const QString& staging)
{
    std::lock_guard lock(m_mutex);
    m_noted.remove(staging);
}

void StagingLedger::forgetRemoved()
{
    // A folder being made has no number yet, and stays.
    for (auto staging = m_noted.begin(); staging != m_noted.end();) {
        if (staging.value() && folderIdentity(staging.key()) != staging.value())
            staging = m_noted.erase(staging);
        else
            ++staging;
    }
    m_keptAtLastLook = m_noted.size();

    // The ledger is written again with what is left, locked before it takes the old one's
    // name, so that it is never without its lock nor short of a folder that lives. When that
    // cannot be done, the longer one serves on.
    QByteArray lines;
    for (auto staging = m_noted.cbegin(); staging != m_noted.cend(); ++staging) {
        lines += staging.key().toUtf8();
        if (staging.value())
            lines += '\t' + staging.value()->toUtf8();
        lines += '\n';
    }
    const QByteArray next = QFile::encodeName(ledgerFile(m_root, m_runId, ".next"));
    const int fd = ::open(next.constData(),
                          O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::write(fd, lines.constData(), size_t(lines.size())) != lines.size() ||
        ::rename(next.constData(),
                 QFile::encodeName(ledgerFile(m_root, m_runId, ".lock")).constData()) != 0) {
        ::unlink(next.constData());
        ::close(fd);
        return;
    }
    ::close(m_lockFd);
    m_lockFd = fd;
}

void StagingLedger::removeEndedRuns()
{
    const QDir runs(runsFolder(m_root));
    for (const QString& name : runs.entryList(QDir::Files | QDir::Hidden)) {
        if (!name.endsWith(QLatin1String(".lock")) || !isRunId(name.chopped(5)))
            continue;
        const QString runId = name.chopped(5);
        const QByteArray path = QFile::encodeName(runs.filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A run that still lives holds its lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && stillNamed(fd, runs.filePath(name))) {
            QFile ledger;
            QMap<QString, std::optional<QString>> recorded;
            if (ledger.open(fd, QIODevice::ReadOnly)) {
                for (const QByteArray& line : ledger.readAll().split('\n')) {
                    const QStringList fields = QString::fromUtf8(line).split(u'\t');
                    const QString& where = fields.first();
                    if (!QDir::isAbsolutePath(where) || QDir::cleanPath(where) != where)
                        continue;
                    if (isStagingOf(QFileInfo(where).fileName(), runId)) {
                        auto& identity = recorded[where];
                        if (fields.size() == 2)
                            identity = fields[1];
                    } else if (fields.size() == 1) {
                        // The folder alone, as earlier versions noted it.
                        removeStaging(where, runId);
                    }
                }
            }
            for (auto staging = recorded.cbegin(); staging != recorded.cend(); ++staging)
                removeRecorded(staging.key(), staging.value());
            const QDir sockets(QStringLiteral("/tmp"));
            for (const QString& socket :
                 sockets.entryList({pipeSocketPrefix(runId) + u'*'}, QDir::System | QDir::Files))
                QFile::remove(sockets.filePath(socket));
            QFile::remove(runs.filePath(name));
        }
        ::close(fd);
    }
    // A shorter ledger a run was writing when it was killed: its run has ended once the
    // ledger it was to replace is gone.
    for (const QString& name : runs.entryList({QStringLiteral("*.next")}, QDir::Files)) {
        const QString runId = name.chopped(5);
        if (isRunId(runId) && !QFileInfo::exists(ledgerFile(m_root, runId, ".lock")))
            QFile::remove(runs.filePath(name));
    }
}

void StagingLedger::removeStaging(const QString& folder, const QString& runId)
{
    if (!isRunId(runId))
        return;
    const QDir dir(folder);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (isStagingOf(name, runId))
            fs::removeTree(dir.filePath(name));
    }
}

std::optional<QString> MakeStagingFolder(const QString& folder, StagingLedger* ledger)
{
    const QString run = ledger ? ledger->runId() : unrecordedRun();
    const QString place = QDir::cleanPath(QDir(folder).absolutePath());
    // A name taken already (however unlikely) is drawn again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString name = QStringLiteral(".docuflume-%1-%2").arg(run, randomName(6));
        const QString path = place + u'/' + name;
        if (ledger)
            ledger->note(path);
        if (QDir(place).mkdir(name)) {
            if (ledger)
                ledger->made(path);
            return path;
        }
        if (ledger)
            ledger->notMade(path);
        if (!QFileInfo::exists(path))
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
        fs::removeTree(stagingPath);
        throw;
    }
    fs::removeTree(stagingPath);
}

void CommitStaged(const QString& staging, const QString& target, const QString& writer,
                  const DocumentWords* words)
{
    if (const auto problem = SettleStagedPage(staging, target, writer, words)) {
        fs::removeTree(staging);
        throw Failure(Failure::AutomationError, problem->description,
                      problem->textLost ? Failure::Cause::LostText : Failure::Cause::Other);
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
        fs::removeTree(*staging);
        throw;
    }
    CommitStaged(*staging, target, writer, words);
}

} // namespace docuflume
