#include "convert/libreoffice/InstancePool.h"

#include "convert/libreoffice/Watchdog.h"
#include "shell/Failure.h"

namespace docuflume::office {

InstancePool::InstancePool(Installation installation, QString profileRoot, QString runId,
                           bool startAhead, std::chrono::milliseconds quitTimeLimit,
                           bool withoutNetwork, Watchdog& watchdog)
    : m_installation(std::move(installation)), m_profileRoot(std::move(profileRoot)),
      m_runId(std::move(runId)), m_startAhead(startAhead), m_quitTimeLimit(quitTimeLimit),
      m_withoutNetwork(withoutNetwork), m_watchdog(watchdog)
{
    m_reapTimer.setSingleShot(true);
    QObject::connect(&m_reapTimer, &QTimer::timeout, &m_reapTimer, [this] {
        reap();
        reapLater();
    });
}

InstancePool::~InstancePool()
{
    m_spare.reset();
    // Those on their way out get a moment; whatever still runs then is killed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (auto& ending : m_ending) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ending.process->waitForExit(std::max(left, std::chrono::milliseconds(0)));
    }
}

InstancePool::Spare::~Spare()
{
    // Stopping the process ends the thread's calls into it; then both are gone.
    if (office.valid()) {
        if (office.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            process->stop();
        office.wait();
    }
}

std::unique_ptr<OfficeProcess> InstancePool::launch()
{
    auto profile = ProfileLease::acquire(m_profileRoot, m_installation);
    const QString pipe = QStringLiteral("docuflume-%1-%2").arg(m_runId).arg(++m_launched);
    return OfficeProcess::start(m_installation, std::move(profile), pipe, m_withoutNetwork);
}

ReadyInstance InstancePool::take()
{
    reap();
    ReadyInstance ready;
    if (const std::unique_ptr<Spare> spare = std::move(m_spare)) {
        try {
            if (spare->office.wait_for(kStartLimit) == std::future_status::ready) {
                ready.office = spare->office.get();
                ready.process = std::move(spare->process);
            }
        } catch (const Failure&) {
            // It did not come up; a fresh one is started below.
        }
    }
    if (!ready.process)
        ready = startNow();
    qCDebug(lcConvert) << "instance" << ready.process->pid() << "ready";
    // Every document gets an instance of its own: within a batch the next one starts now,
    // while this one converts.
    if (m_inBatch)
        startSpare();
    return ready;
}

ReadyInstance InstancePool::startNow()
{
    ReadyInstance ready{launch(), {}};
    // An office that accepts the connection and then hangs would block here for good. (One
    // readied ahead is waited for with a limit, and stopped when it misses it.)
    m_watchdog.arm(ready.process->pid(), kStartLimit);
    try {
        ready.office = reachOffice(m_installation, *ready.process, false);
    } catch (const Failure&) {
        if (!m_watchdog.disarm())
            throw;
    }
    if (m_watchdog.disarm())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice did not start within %1 seconds.")
                          .arg(kStartLimit.count()));
    return ready;
}

void InstancePool::startSpare()
{
    if (!m_startAhead || m_spare)
        return;
    try {
        auto spare = std::make_unique<Spare>();
        spare->process = launch();
        OfficeProcess* process = spare->process.get();
        spare->office = std::async(std::launch::async, [this, process] {
            return reachOffice(m_installation, *process, true);
        });
        m_spare = std::move(spare);
    } catch (const Failure&) {
        // Starting ahead is only a saving; the next take() starts its own.
    }
}

void InstancePool::endBatch() noexcept
{
    m_inBatch = false;
    m_spare.reset();
    reap();
}

void InstancePool::endNow() noexcept
{
    endBatch();
    // Killed and reaped, each tidies what it leaves.
    m_ending.clear();
}

void InstancePool::retire(std::unique_ptr<OfficeProcess> process)
{
    m_ending.push_back({std::move(process), std::chrono::steady_clock::now() + m_quitTimeLimit});
    reap();
    reapLater();
}

void InstancePool::reapLater()
{
    // Between runs nothing else would collect an ended instance.
    if (!m_ending.empty() && !m_reapTimer.isActive())
        m_reapTimer.start(std::chrono::milliseconds(250));
}

void InstancePool::reap()
{
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(m_ending, [now](Ending& ending) {
        if (ending.process->exitStatus())
            return true;
        if (now < ending.deadline)
            return false;
        ending.process->kill();
        return true;
    });
}

} // namespace docuflume::office
