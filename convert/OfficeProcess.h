#pragma once

#include <QString>

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The LibreOffice processes behind the engine: finding the installation, private profiles,
// starting and ending instances, and the watchdog that ends one that hangs. No UNO here.
namespace docuflume::office {

struct Installation
{
    QString programFolder; // holds soffice.bin and fundamentalrc
    QString version;       // major.minor, as a profile records it; empty when unknown
    // Writer's user interface files are there. Without them (Debian's nogui variant) the
    // office aborts after loading many documents through UNO: it builds windows for
    // comments and the like from those files even when the document is hidden.
    bool writerUi = false;

    QString executable() const { return programFolder + QStringLiteral("/soffice.bin"); }

    // The installation this program was built against, or another one found in the usual
    // places; nothing when LibreOffice is not installed.
    static std::optional<Installation> find();
    // The installation whose program folder this is, if it is one.
    static std::optional<Installation> at(const QString& programFolder);
};

// Writes a profile's first settings: the version it has run (so the office skips its
// graphics self-test at start) and no first-run wizard.
void seedProfile(const QString& folder, const QString& version);

// One private profile folder, held by one live instance at a time (a lock file that the
// other instances of this and every other copy of the program see).
class ProfileLease
{
public:
    static std::unique_ptr<ProfileLease> acquire(const QString& root, const QString& version);
    ~ProfileLease();
    ProfileLease(const ProfileLease&) = delete;
    ProfileLease& operator=(const ProfileLease&) = delete;

    const QString& folder() const { return m_folder; }
    // A profile that no instance has run in yet; the first start then ends itself and asks
    // to be started again, so such a profile is set up by a short run of its own first. A
    // profile that is not ready when acquired is emptied and seeded again.
    bool ready() const;
    void markReady();

private:
    ProfileLease(QString folder, int lockFd) : m_folder(std::move(folder)), m_lockFd(lockFd) {}
    QString m_folder;
    int m_lockFd;
};

// A headless soffice.bin of our own, in a process group of its own that is killed when
// this program ends, however it ends. Every instance is started from one thread that lives
// as long as the program, so its parent-death signal is never tied to a passing thread.
class OfficeProcess
{
public:
    static std::unique_ptr<OfficeProcess> start(const Installation& installation,
                                                std::unique_ptr<ProfileLease> profile,
                                                const QString& pipeName);
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    pid_t pid() const { return m_pid; }
    const QString& pipeName() const { return m_pipeName; }

    // The exit status once the process has ended (128 + signal when killed), without waiting.
    std::optional<int> exitStatus();
    bool waitForExit(std::chrono::milliseconds limit);
    // Starts the same instance again, as LibreOffice asks on a brand-new profile.
    void restart();
    // Kills the whole process group and reaps it.
    void kill();

private:
    OfficeProcess(const Installation& installation, std::unique_ptr<ProfileLease> profile,
                  QString pipeName);
    void prepareProfile();
    pid_t spawn(const std::vector<QByteArray>& extraArguments);
    void launch();
    void cleanUp();

    Installation m_installation;
    std::unique_ptr<ProfileLease> m_profile;
    QString m_pipeName;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// Kills a process group when a call into it takes longer than its limit, so that the
// blocked call returns with a failure instead of hanging the program.
class Watchdog
{
public:
    Watchdog();
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void arm(pid_t group, std::chrono::milliseconds limit);
    // Stops watching; true when the limit was reached and the group killed.
    bool disarm();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    pid_t m_group = -1;
    bool m_fired = false;
    bool m_stopping = false;
    std::thread m_thread;
};

// True when this user runs a LibreOffice that is not one of ours (ours live below
// `ourProfiles`).
bool foreignOfficeRunning(const QString& ourProfiles);

// The folder below which our private profiles live.
QString profileRoot();

} // namespace docuflume::office
