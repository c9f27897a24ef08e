#pragma once

#include "convert/libreoffice/OfficeInstallation.h"

#include <QString>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace docuflume::office {

// A headless soffice.bin of our own, in a process group of its own that is killed when
// this program ends, however it ends. Without network, where the machine allows it, it runs
// in a network namespace with no interface. Every instance is started from one thread that lives
// as long as the program, so its parent-death signal is never tied to a passing thread.
class OfficeProcess
{
public:
    static std::unique_ptr<OfficeProcess> start(const Installation& installation,
                                                std::unique_ptr<ProfileLease> profile,
                                                const QString& pipeName, bool withoutNetwork);
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    pid_t pid() const { return m_pid; }
    const QString& pipeName() const { return m_pipeName; }
    // The folder the instance keeps its temporary files in (emptied when it has ended).
    QString temporaryFolder() const;

    // The exit status once the process has ended (128 + signal when killed), without waiting.
    std::optional<int> exitStatus();
    bool waitForExit(std::chrono::milliseconds limit);
    // Starts the same instance again, as LibreOffice asks on a brand-new profile.
    void restart();
    // Kills the whole process group and reaps it.
    void kill();
    // Ends the instance from another thread than the one starting or using it: kills its
    // process group without reaping it, and keeps it from being started again, so that the
    // other thread's calls fail soon. The owner reaps it afterwards.
    void stop() noexcept;
    // Stops every instance of this program, and any started from now on, as stop() does:
    // from any thread, for a run that is to end at once.
    static void stopAll() noexcept;

private:
    OfficeProcess(const Installation& installation, std::unique_ptr<ProfileLease> profile,
                  QString pipeName, bool withoutNetwork);
    void prepareProfile();
    pid_t spawn(const std::vector<QByteArray>& extraArguments);
    void launch();
    void cleanUp();

    Installation m_installation;
    std::unique_ptr<ProfileLease> m_profile;
    QString m_pipeName;
    bool m_withoutNetwork;
    std::atomic<pid_t> m_pid{-1}; // read by stop() from another thread
    std::atomic<bool> m_stopped{false};
    std::optional<int> m_status;
};

} // namespace docuflume::office
