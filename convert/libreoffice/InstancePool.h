#pragma once

#include "convert/libreoffice/OfficeInstallation.h"
#include "convert/libreoffice/OfficeProcess.h"
#include "convert/libreoffice/UnoGlue.h"

#include <QTimer>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

namespace docuflume::office {

class Watchdog;

// A started office, reached and ready for documents.
struct ReadyInstance
{
    std::unique_ptr<OfficeProcess> process;
    RemoteOffice office;
};

// Starts the engine's instances, a fresh one for every document, and collects those that
// were told to end. Within a batch it starts the next instance while the current one
// converts, on a thread of its own.
//
// That thread touches only the instance it readies (its OfficeProcess, until the future
// holding its desktop is ready), the installation (read only) and the process-wide UNO
// runtime. Everything else here belongs to the window's thread.
class InstancePool
{
public:
    // `runId` names this run's pipes, so that a later run can find those it left.
    InstancePool(Installation installation, QString profileRoot, QString runId, bool startAhead,
                 std::chrono::milliseconds quitTimeLimit, bool withoutNetwork, Watchdog& watchdog);
    ~InstancePool();
    InstancePool(const InstancePool&) = delete;
    InstancePool& operator=(const InstancePool&) = delete;

    // A fresh instance: the one readied ahead when there is one, else one started now.
    // Throws a Failure when none comes up within the start limit.
    ReadyInstance take();

    // The instance readied ahead waits for the batch's next document, however long the
    // batch takes to ask for it (an error box, a slow yield); it goes when the batch ends.
    void beginBatch() noexcept { m_inBatch = true; }
    void endBatch() noexcept;
    // Ends every instance of the pool at once, the spare and those ending on their own.
    void endNow() noexcept;

    // Lets an instance that was told to end finish on its own, without waiting for it; one
    // that outlives the quit limit is killed.
    void retire(std::unique_ptr<OfficeProcess> process);
    // Collects the retired instances that have ended, and kills those past their limit.
    void reap();

    const QString& profileRoot() const { return m_profileRoot; }
    const Installation& installation() const { return m_installation; }

    // Starts an office on a profile of its own, not yet connected to.
    std::unique_ptr<OfficeProcess> launch();

private:
    struct Ending
    {
        std::unique_ptr<OfficeProcess> process;
        std::chrono::steady_clock::time_point deadline;
    };

    // An instance started ahead, and the thread that connects to it and readies its word
    // processor.
    struct Spare
    {
        std::unique_ptr<OfficeProcess> process;
        std::future<RemoteOffice> office;
        ~Spare();
    };

    ReadyInstance startNow();
    void startSpare();
    void reapLater();

    const Installation m_installation;
    const QString m_profileRoot;
    const QString m_runId;
    const bool m_startAhead;
    const std::chrono::milliseconds m_quitTimeLimit;
    const bool m_withoutNetwork;
    Watchdog& m_watchdog;
    std::unique_ptr<Spare> m_spare;
    bool m_inBatch = false;
    QTimer m_reapTimer;
    std::vector<Ending> m_ending;
    int m_launched = 0;
};

} // namespace docuflume::office
