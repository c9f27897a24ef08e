#include "convert/libreoffice/AheadConversions.h"

#include "convert/libreoffice/InstancePool.h"
#include "convert/libreoffice/Watchdog.h"
#include "convert/pages/StagedSave.h"
#include "shell/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace docuflume::office {

struct AheadConversions::Job
{
    PlannedExport what;
    std::optional<fs::FileIdentity> identity; // of the source as its conversion began
    QString staging;
    Watchdog watchdog;
    std::thread thread;
    // Under m_mutex:
    OfficeProcess* process = nullptr; // while the worker has an instance to stop
    bool stopped = false;
    bool ready = false;  // the page is written, or will not be
    bool stored = false; // it was written, and is sound
    std::optional<AheadFailure> failure;
    bool finished = false; // the worker is done, its instance gone
};

AheadResult::~AheadResult()
{
    if (!m_staging.isEmpty())
        fs::removeTree(m_staging);
}

AheadResult::AheadResult(AheadResult&& other) noexcept
    : m_made(std::move(other.m_made)), m_staging(std::exchange(other.m_staging, QString())),
      m_failure(std::move(other.m_failure))
{}

AheadConversions::AheadConversions(InstancePool& pool, InstanceLimits limits, int capacity,
                                   StagingLedger* ledger)
    : m_pool(pool), m_limits(limits), m_ledger(ledger), m_capacity(capacity)
{}

AheadConversions::~AheadConversions()
{
    clear();
}

void AheadConversions::plan(const QList<PlannedExport>& next)
{
    m_plan = next;
    // Jobs for what is no longer planned go; each planned document keeps at most one.
    std::vector<bool> wanted(m_jobs.size(), false);
    for (const int job : jobsFor(next)) {
        if (job >= 0)
            wanted[size_t(job)] = true;
    }
    std::vector<std::unique_ptr<Job>> kept;
    for (size_t j = 0; j < m_jobs.size(); ++j) {
        if (wanted[j])
            kept.push_back(std::move(m_jobs[j]));
        else
            drop(std::move(m_jobs[j]));
    }
    m_jobs = std::move(kept);
    fill();
}

int AheadConversions::running()
{
    collect();
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_jobs.begin(), m_jobs.end(),
                             [](const auto& job) { return !job->finished; }) +
               m_ending.size());
}

void AheadConversions::collect()
{
    std::vector<std::unique_ptr<Job>> gone;
    {
        std::lock_guard lock(m_mutex);
        for (auto& job : m_ending) {
            if (job->finished)
                gone.push_back(std::move(job));
        }
        std::erase(m_ending, nullptr);
    }
    for (const auto& job : gone)
        job->thread.join();
}

std::vector<int> AheadConversions::jobsFor(const QList<PlannedExport>& planned) const
{
    std::vector<int> jobs;
    std::vector<bool> used(m_jobs.size(), false);
    for (const PlannedExport& entry : planned) {
        int found = -1;
        for (size_t j = 0; j < m_jobs.size() && found < 0; ++j) {
            if (!used[j] && m_jobs[j]->what == entry) {
                used[j] = true;
                found = int(j);
            }
        }
        jobs.push_back(found);
    }
    return jobs;
}

void AheadConversions::fill()
{
    // The planned documents without a job, in the plan's order, while there is room.
    const std::vector<int> jobs = jobsFor(m_plan);
    int inFlight = running();
    for (qsizetype k = 0; k < m_plan.size() && inFlight < m_capacity; ++k) {
        if (jobs[size_t(k)] < 0 && startJob(m_plan[k]))
            ++inFlight;
    }
}

bool AheadConversions::startJob(const PlannedExport& what)
{
    const QString folder = QFileInfo(what.outputPath).absolutePath();
    const auto identity = fs::fileIdentity(what.source);
    if (!identity)
        return false; // converted at its turn, which tells what is wrong with it
    const std::optional<QString> staging = MakeStagingFolder(folder, m_ledger);
    if (!staging)
        return false;
    std::unique_ptr<OfficeProcess> process;
    try {
        process = m_pool.launch();
    } catch (const Failure&) {
        fs::removeTree(*staging);
        return false; // converted at its turn
    }
    auto job = std::make_unique<Job>();
    job->what = what;
    job->identity = identity;
    job->staging = *staging;
    job->process = process.get();
    Job* raw = job.get();
    try {
        job->thread = std::thread([this, raw, owned = process.get()] {
            convert(*raw, std::unique_ptr<OfficeProcess>(owned));
        });
    } catch (const std::system_error&) {
        fs::removeTree(*staging);
        return false; // no thread to be had: converted at its turn
    }
    process.release(); // the worker owns it now
    qCDebug(lcConvert) << "converting ahead:" << QFileInfo(what.source).fileName();
    m_jobs.push_back(std::move(job));
    return true;
}

void AheadConversions::convert(Job& job, std::unique_ptr<OfficeProcess> process)
{
    bool stored = false;
    std::optional<AheadFailure> failure;
    try {
        job.watchdog.arm(process->pid(), kStartLimit);
        ReadyInstance ready;
        try {
            ready.office = reachOffice(m_pool.installation(), *process, false);
        } catch (const Failure&) {
            job.watchdog.disarm();
            throw;
        }
        if (job.watchdog.disarm())
            throw Failure(Failure::AutomationError, QStringLiteral("LibreOffice did not start."));
        ready.process = std::move(process);
        OfficeInstance instance(std::move(ready), m_limits, job.watchdog, m_ledger);
        bool opened = false;
        try {
            std::unique_ptr<WordDocument> document = instance.open(job.what.source);
            opened = true;
            auto& officeDocument = static_cast<OfficeDocument&>(*document);
            officeDocument.store(
                QDir(job.staging).filePath(QFileInfo(job.what.outputPath).fileName()),
                job.what.fileFormat);
            // Checked now, as a save at its turn checks it: an unsound page is made again
            // then, while one that lost the text fails there in the same words.
            const auto problem = SettleStagedPage(job.staging, job.what.outputPath, kProductName,
                                                  &officeDocument.words());
            stored = !problem;
            if (problem) {
                qCDebug(lcConvert) << "ahead:" << problem->description;
                if (problem->textLost)
                    failure = AheadFailure{Failure(Failure::AutomationError, problem->description,
                                                   Failure::Cause::LostText),
                                           true};
            }
        } catch (const Failure& answer) {
            qCDebug(lcConvert) << "ahead:" << answer.description();
            // What the office answered stands. After a crash or a kill, and after a time limit
            // (reached while others converted beside it, so perhaps only for the load), the
            // turn converts the document again, alone.
            if (instance.ended() == OfficeInstance::Ended::No)
                failure = AheadFailure{answer, opened};
        } catch (...) {
        }
        qCDebug(lcConvert) << "made ahead:" << QFileInfo(job.what.source).fileName()
                           << (stored    ? "written"
                               : failure ? "refused"
                                         : "to be made again");
        std::lock_guard lock(m_mutex);
        job.stored = stored && !job.stopped;
        if (!job.stopped)
            job.failure = std::move(failure);
        job.ready = true;
        job.process = nullptr;
        m_finished.notify_all();
        // Its page is written: the instance is killed as it goes out of scope, which spares
        // its shutdown (that writes nothing kept: the profile is ours, the document read only).
    } catch (...) {
    }
    std::lock_guard lock(m_mutex);
    if (process) {
        // It never came up.
        job.process = nullptr;
        process->kill();
    }
    job.ready = job.finished = true;
    ++m_finishCount;
    m_finished.notify_all();
    // Its room goes to the next planned document, on the window's thread, even while the
    // run waits for the user.
    QMetaObject::invokeMethod(
        &m_context, [this] { fill(); }, Qt::QueuedConnection);
}

void AheadConversions::drop(std::unique_ptr<Job> job)
{
    {
        std::lock_guard lock(m_mutex);
        job->stopped = true;
        if (job->process)
            job->process->stop();
    }
    job->thread.join();
    fs::removeTree(job->staging);
}

std::optional<AheadResult> AheadConversions::take(const QString& source)
{
    // The turn leaves the plan, whatever was made for it.
    std::optional<PlannedExport> turn;
    const auto planned = std::find_if(m_plan.begin(), m_plan.end(), [&](const PlannedExport& next) {
        return next.source == source;
    });
    if (planned != m_plan.end()) {
        turn = *planned;
        m_plan.erase(planned);
    }
    // The job made for this turn, else the first one made for this entry.
    auto found = m_jobs.end();
    if (turn)
        found = std::find_if(m_jobs.begin(), m_jobs.end(),
                             [&](const auto& job) { return job->what == *turn; });
    if (found == m_jobs.end())
        found = std::find_if(m_jobs.begin(), m_jobs.end(),
                             [&](const auto& job) { return job->what.source == source; });
    if (found == m_jobs.end())
        return std::nullopt;
    Job& job = **found;
    // While it converts, the others that finish make room for the next planned ones.
    int seen = -1;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_finished.wait(lock, [&] { return job.ready || m_finishCount != seen; });
            if (job.ready)
                break;
            seen = m_finishCount;
        }
        fill();
    }
    // fill() may have added jobs: the iterator is stale by now. The job's instance may
    // still be ending; it is collected once it has.
    const auto at = std::find_if(m_jobs.begin(), m_jobs.end(),
                                 [&](const auto& candidate) { return candidate.get() == &job; });
    std::unique_ptr<Job> done = std::move(*at);
    m_jobs.erase(at);
    bool stored = false;
    std::optional<AheadFailure> failure;
    {
        std::lock_guard lock(m_mutex);
        stored = job.stored;
        failure = job.failure;
    }
    const std::optional<fs::FileIdentity> identity = done->identity;
    AheadResult result(done->what, std::exchange(done->staging, QString()));
    m_ending.push_back(std::move(done)); // `job` may be gone after this
    fill();
    if ((!stored && !failure) || fs::fileIdentity(source) != identity)
        return std::nullopt; // the result's staging goes with it
    if (failure)
        result.setFailure(std::move(*failure));
    return result;
}

void AheadConversions::clear()
{
    {
        std::lock_guard lock(m_mutex);
        for (const auto& job : m_jobs) {
            job->stopped = true;
            if (job->process)
                job->process->stop();
        }
    }
    for (const auto& job : m_jobs) {
        job->thread.join();
        fs::removeTree(job->staging);
    }
    for (const auto& job : m_ending)
        job->thread.join();
    m_jobs.clear();
    m_ending.clear();
    m_plan.clear();
}

int AheadInstancesForThisMachine()
{
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    // Each instance takes some 100-250 MB with its document; leave a gigabyte to the rest of
    // the desktop.
    constexpr qint64 kPerInstance = 300, kLeftToOthers = 1024; // MB
    qint64 availableMb = -1;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : meminfo.readAll().split('\n')) {
            if (line.startsWith("MemAvailable:"))
                availableMb = line.mid(13).trimmed().split(' ').first().toLongLong() / 1024;
        }
    }
    if (availableMb < 0)
        availableMb = qint64(::sysconf(_SC_AVPHYS_PAGES)) * ::sysconf(_SC_PAGESIZE) >> 20;
    const int byMemory = int(std::max<qint64>(0, availableMb - kLeftToOthers) / kPerInstance);
    // Two for each core: an instance spends part of its short life waiting (starting,
    // connecting, being reaped), and a second one fills that time (measured on two cores:
    // 1.05-1.13 times the floor with four, 1.22 with two, for the same processor time).
    // One at a time is slower than one instance started ahead while the other converts
    // (measured: 0.54 against 0.42 s per document), so fewer than two means none, and so
    // does a single core.
    const int instances = cores < 2 ? 0 : std::min({2 * cores, byMemory, 8});
    return instances >= 2 ? instances : 0;
}

} // namespace docuflume::office
