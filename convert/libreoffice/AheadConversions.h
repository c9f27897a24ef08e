#pragma once

#include "convert/WordAutomation.h"
#include "convert/libreoffice/OfficeInstance.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"

#include <QObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace docuflume::office {

class InstancePool;

// What the office answered a conversion ahead with, and whether it came from the save (else
// from opening).
struct AheadFailure
{
    Failure failure;
    bool saving = false;
};

// A document converted ahead of its turn: its page, waiting in a staging folder beside its
// target (moved into place by MoveStaged, or removed with this object), or the failure
// the office answered with, to be shown at the turn as if it had come then.
class AheadResult
{
public:
    AheadResult(PlannedExport made, QString staging)
        : m_made(std::move(made)), m_staging(std::move(staging))
    {}
    ~AheadResult();
    AheadResult(AheadResult&& other) noexcept;
    AheadResult& operator=(AheadResult&&) = delete;

    const PlannedExport& made() const { return m_made; }
    const QString& staging() const { return m_staging; }
    // Hands the staging folder over to the caller, who moves it into place or removes it.
    QString release() { return std::exchange(m_staging, QString()); }

    const std::optional<AheadFailure>& failure() const { return m_failure; }
    void setFailure(AheadFailure failure) { m_failure = std::move(failure); }

private:
    PlannedExport m_made;
    QString m_staging;
    std::optional<AheadFailure> m_failure;
};

// Converts the documents a batch plans to convert next, ahead of their turn: each in a
// fresh instance of its own, on a thread of its own, into a staging folder beside its page,
// at most `capacity` at a time. A result serves a turn only when it was made for the same
// entry text, from the file as it is at that turn; results the plan no longer names are
// dropped, and nothing is ever moved into an output folder here.
//
// The window's thread plans, takes and clears; each worker thread touches only its own
// job's instance, watchdog and staging folder, and the finished state under m_mutex.
class AheadConversions
{
public:
    AheadConversions(InstancePool& pool, InstanceLimits limits, int capacity,
                     StagingLedger* ledger);
    ~AheadConversions();
    AheadConversions(const AheadConversions&) = delete;
    AheadConversions& operator=(const AheadConversions&) = delete;

    int capacity() const { return m_capacity; }

    // The documents the run converts next, from the one at its turn on.
    void plan(const QList<PlannedExport>& next);
    // The turn of this entry has come: it leaves the plan, and the result made ahead for it
    // is handed over, once it is ready (a page, or the failure the office answered with).
    // Nothing when none was made, the office crashed, was killed or reached the time limit
    // on it, its page was not sound (the turn then converts it alone), or the file has
    // changed since its conversion began.
    std::optional<AheadResult> take(const QString& source);
    // Ends every instance converting ahead and removes every result not taken.
    void clear();

private:
    struct Job;

    // For each planned entry, the index of the job made for it, or -1; each job serves one.
    std::vector<int> jobsFor(const QList<PlannedExport>& planned) const;
    void fill();
    bool startJob(const PlannedExport& what);
    void convert(Job& job, std::unique_ptr<OfficeProcess> process);
    void drop(std::unique_ptr<Job> job);
    // The instances in flight: converting, or ending after their result was taken.
    int running();
    void collect();

    QObject m_context; // of the window's thread, for what the workers hand it
    InstancePool& m_pool;
    const InstanceLimits m_limits;
    StagingLedger* const m_ledger;
    const int m_capacity;
    QList<PlannedExport> m_plan;
    std::vector<std::unique_ptr<Job>> m_jobs;   // in the order they were started
    std::vector<std::unique_ptr<Job>> m_ending; // taken, their instances still ending

    std::mutex m_mutex; // guards every job's state and `process`
    std::condition_variable m_finished;
    int m_finishCount = 0; // under m_mutex: how many jobs have finished
};

// How many documents to convert ahead at a time: two per core, as far as the memory free
// now holds an instance for each, at most 8; none on one core or when that is fewer than two.
int AheadInstancesForThisMachine();

} // namespace docuflume::office
