#pragma once

#include "convert/pages/SavedPageCheck.h"

#include <QHash>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

namespace docuflume {

// The staging folders a run of this program makes, noted by their exact paths under a
// folder of its own (the engine's profile root) before each is made, so that whatever a run that
// was killed left in the users' output folders is removed by the next run that opens the same
// ledger. A run holds a lock on its ledger file for as long as it lives; a ledger without its lock
// belongs to a run that ended.
class StagingLedger
{
public:
    // Opens a ledger of this run's own below `root`, and removes the staging, pipe sockets
    // and ledgers of every run that ended without removing them.
    explicit StagingLedger(const QString& root);
    ~StagingLedger();
    StagingLedger(const StagingLedger&) = delete;
    StagingLedger& operator=(const StagingLedger&) = delete;

    // The run's name, random: the first part of its staging folders' and pipes' names.
    const QString& runId() const { return m_runId; }
    // Notes the path of a staging folder before it is made, and then the folder made (its
    // device and number), so that nothing but that folder is ever removed for it.
    void note(const QString& staging);
    void made(const QString& staging);
    // A noted folder that could not be made: nothing to remove for it.
    void notMade(const QString& staging);

    // The run ends now: whatever staging of it is left goes, and so does its ledger; nothing
    // is noted any more. (The destructor does as much.)
    void end();

    // Removes the staging folders the run `runId` made in `folder` (as ledgers of earlier
    // versions name them: by their folder alone).
    static void removeStaging(const QString& folder, const QString& runId);

private:
    void removeEndedRuns();
    void write(const QString& line);
    void forgetRemoved();

    const QString m_root;
    const QString m_runId;
    int m_lockFd = -1;
    std::mutex m_mutex; // notes come from the workers converting ahead too
    QHash<QString, std::optional<QString>> m_noted; // staging made: its device and number
    qsizetype m_keptAtLastLook = 0;                 // how many were left when last looked over
};

// Saves a page with the files beside it (its pictures) into the output folder, all or
// nothing. `write` is handed the path of the page inside a staging folder of ours beside
// the output, and writes the page and its pictures there. Only when it returns and the page
// checks out (see CheckSavedPage) are the files moved into place, the pictures first and
// the page last, so that a page never points at pictures that are not there yet; otherwise
// the output folder is left as it was and the failure passes on. `writer` names the program
// that writes, for the message of a page that is not sound. With `words`, a page that lost
// the document's text (see LostWords) fails too.
void SaveStaged(const QString& target, const QString& writer,
                const std::function<void(const QString& stagedPage)>& write,
                StagingLedger* ledger = nullptr, const DocumentWords* words = nullptr);

// Readies a page written into `staging` for `target` for its move: its links to files outside
// the staging folder (pictures the document links to), which the writer made relative to the
// staging folder, are made to work from the target (relative within the target's folder,
// absolute elsewhere), and the page is checked as it will then be read. Returns what is
// wrong with it, in the words of a failed save, or nothing when it is sound. `textLost`
// tells a page that lost the document's text (with `words` given), which writing it again
// would not mend, from one that is not sound.
struct PageProblem
{
    QString description;
    bool textLost = false;
};
std::optional<PageProblem> SettleStagedPage(const QString& staging, const QString& target,
                                            const QString& writer,
                                            const DocumentWords* words = nullptr);

// Moves a page that was written into `staging` (a folder of ours beside `target`, the page
// named like the target) into place with its pictures, as SaveStaged does once its writer
// returns; the staging folder is gone afterwards, whether the page was sound or not.
void CommitStaged(const QString& staging, const QString& target, const QString& writer,
                  const DocumentWords* words = nullptr);
// The move alone, for a page that was checked when it was written.
void MoveStaged(const QString& staging, const QString& target);

// Makes a staging folder of ours in `folder`, under a name no other has had, noted in the
// ledger first; returns its path, or nothing when the folder cannot be written.
std::optional<QString> MakeStagingFolder(const QString& folder, StagingLedger* ledger = nullptr);

} // namespace docuflume
