#include "convert/libreoffice/OfficeProcess.h"

#include "convert/libreoffice/UnoGlue.h"
#include "shell/Failure.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace docuflume::office {
namespace {

// Every office process is forked on this one thread. The kernel sends a child its
// parent-death signal when the thread that forked it ends, not the process; a child forked
// on a helper thread that has done its work would be killed with that thread.
class Launcher
{
public:
    static Launcher& instance()
    {
        static Launcher launcher;
        return launcher;
    }

    // Runs `job` on the launcher's thread and waits for it.
    template <typename Job> auto run(Job job) -> decltype(job())
    {
        std::packaged_task<decltype(job())()> task(std::move(job));
        auto result = task.get_future();
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::packaged_task<void()>(std::move(task)));
        }
        m_wake.notify_one();
        return result.get();
    }

private:
    Launcher() : m_thread([this] { loop(); }) {}
    ~Launcher()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void loop()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            auto job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

// The identity maps a user namespace of our own gets: the user as themselves, nothing else.
struct OwnIdentity
{
    QByteArray uidMap =
        QByteArray::number(::getuid()) + ' ' + QByteArray::number(::getuid()) + " 1";
    QByteArray gidMap =
        QByteArray::number(::getgid()) + ' ' + QByteArray::number(::getgid()) + " 1";
};

bool writeWhole(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return written;
}

enum class Closing { Closed, NotClosed, Broken };

// Gives the calling process a network namespace of its own, which has no interface but a
// loopback that is down: nothing it does reaches a host, this one included. (Sockets in the
// file system, the UNO pipe among them, work as before.) One that may not make a network
// namespace directly makes it inside a user namespace where it is itself. Only system calls
// are made: this runs in a freshly forked child.
Closing closeNetwork(const OwnIdentity& identity)
{
    if (::unshare(CLONE_NEWNET) == 0)
        return Closing::Closed;
    if (::unshare(CLONE_NEWUSER) != 0)
        return Closing::NotClosed;
    // A user namespace without its maps would make the office nobody.
    if (!writeWhole("/proc/self/setgroups", "deny") ||
        !writeWhole("/proc/self/uid_map", identity.uidMap) ||
        !writeWhole("/proc/self/gid_map", identity.gidMap))
        return Closing::Broken;
    return ::unshare(CLONE_NEWNET) == 0 ? Closing::Closed : Closing::NotClosed;
}

// Whether this machine lets an instance run without network, tried once in a child that
// does nothing else. Kernels and security modules may forbid user or network namespaces.
bool networkCanBeClosed()
{
    const OwnIdentity identity;
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(closeNetwork(identity) == Closing::Closed ? 0 : 1);
    int status = 0;
    const bool closed = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                        WEXITSTATUS(status) == 0;
    if (!closed) {
        qCDebug(lcConvert) << "instances run with the network: this machine gives them no "
                              "network namespace of their own";
    }
    return closed;
}

// Forks and executes argv[0]; returns once the child runs the program (or throws when it
// could not), so that a started instance is visible as the office from the start. With
// `identity`, the child has no network.
pid_t forkOffice(std::vector<char*> argv, std::vector<char*> environment,
                 const OwnIdentity* identity)
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice could not be started."));
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    const int forkError = errno;
    if (pid == 0) {
        ::setsid();                         // a group of its own, so that a kill reaches all of it
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // and it dies with us
        if (::getppid() != parent)
            ::_exit(127);
        if (identity && closeNetwork(*identity) == Closing::Broken) {
            const int error = EPERM;
            [[maybe_unused]] const auto written = ::write(ready[1], &error, sizeof error);
            ::_exit(127);
        }
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        // Everything else closes, but the end of the pipe that tells the parent how the
        // exec went (it closes by itself when the exec succeeds).
        const unsigned tell = unsigned(ready[1]);
        if (tell > 3)
            ::close_range(3, tell - 1, 0);
        ::close_range(tell + 1, ~0U, 0);
        // The program's own path as argv[0]: LibreOffice finds its installation from it.
        ::execve(argv[0], argv.data(), environment.data());
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(ready[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(ready[1]);
    int error = 0;
    ssize_t got = -1;
    if (pid > 0) {
        do
            got = ::read(ready[0], &error, sizeof error);
        while (got < 0 && errno == EINTR);
    }
    ::close(ready[0]);
    if (pid < 0 || got != 0) {
        if (pid > 0)
            ::waitpid(pid, nullptr, 0);
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice could not be started: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(pid < 0 ? forkError : error))));
    }
    return pid;
}

} // namespace

namespace {

// Every instance alive, for stopAll().
std::mutex g_liveMutex;
std::set<OfficeProcess*> g_live;
bool g_allStopped = false;

} // namespace

OfficeProcess::OfficeProcess(const Installation& installation,
                             std::unique_ptr<ProfileLease> profile, QString pipeName,
                             bool withoutNetwork)
    : m_installation(installation), m_profile(std::move(profile)), m_pipeName(std::move(pipeName)),
      m_withoutNetwork(withoutNetwork)
{
    const std::lock_guard lock(g_liveMutex);
    g_live.insert(this);
    m_stopped = g_allStopped;
}

std::unique_ptr<OfficeProcess> OfficeProcess::start(const Installation& installation,
                                                    std::unique_ptr<ProfileLease> profile,
                                                    const QString& pipeName, bool withoutNetwork)
{
    std::unique_ptr<OfficeProcess> process(
        new OfficeProcess(installation, std::move(profile), pipeName, withoutNetwork));
    process->prepareProfile();
    process->launch();
    return process;
}

QString OfficeProcess::temporaryFolder() const
{
    return office::temporaryFolder(m_profile->folder());
}

void OfficeProcess::prepareProfile()
{
    if (m_profile->ready())
        return;
    // Two tries: a first run may still ask for a restart.
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_pid = spawn({"--terminate_after_init"});
        m_status.reset();
        if (!waitForExit(std::chrono::seconds(60)))
            kill();
        if (m_status == 0) {
            m_profile->markReady();
            return;
        }
    }
}

pid_t OfficeProcess::spawn(const std::vector<QByteArray>& extraArguments)
{
    // Everything the child needs is prepared before the fork: after it, only calls that
    // are safe in a forked copy of a threaded program are made.
    const QByteArray program = QFile::encodeName(m_installation.executable());
    const QByteArray profile =
        "-env:UserInstallation=" + QUrl::fromLocalFile(m_profile->folder()).toEncoded();
    std::vector<QByteArray> arguments = {program,    "--headless",  "--invisible",   "--norestore",
                                         "--nologo", "--nodefault", "--nolockcheck", profile};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // The office's temporary files go into a folder of the instance's own, emptied when it
    // has ended: one that is killed leaves its own behind otherwise.
    const QString temporary = office::temporaryFolder(m_profile->folder());
    QDir().mkpath(temporary);
    std::vector<QByteArray> variables;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "TMPDIR=", 7) != 0)
            variables.emplace_back(*variable);
    }
    variables.push_back("TMPDIR=" + QFile::encodeName(temporary));
    std::vector<char*> environment;
    for (QByteArray& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    const bool withoutNetwork = m_withoutNetwork;
    return Launcher::instance().run([&argv, &environment, withoutNetwork] {
        static const bool closable = networkCanBeClosed();
        static const OwnIdentity identity;
        return forkOffice(argv, environment, withoutNetwork && closable ? &identity : nullptr);
    });
}

void OfficeProcess::launch()
{
    m_pid = spawn({"--accept=pipe,name=" + m_pipeName.toUtf8() + ";urp;"});
    m_status.reset();
    // A stop() that came while this one was being started may have missed it.
    if (m_stopped)
        ::kill(-m_pid, SIGKILL);
}

void OfficeProcess::restart()
{
    kill();
    if (m_stopped)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice was stopped while starting."));
    launch();
}

void OfficeProcess::stop() noexcept
{
    m_stopped = true;
    if (const pid_t pid = m_pid; pid > 0)
        ::kill(-pid, SIGKILL);
}

std::optional<int> OfficeProcess::exitStatus()
{
    if (m_status || m_pid <= 0)
        return m_status;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        cleanUp();
    }
    return m_status;
}

bool OfficeProcess::waitForExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!exitStatus()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void OfficeProcess::kill()
{
    if (m_pid <= 0 || m_status)
        return;
    ::kill(-m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_status = 128 + SIGKILL;
    cleanUp();
}

void OfficeProcess::cleanUp()
{
    // A killed instance leaves its pipes' sockets and its temporary files behind.
    QFile::remove(QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(::getuid()).arg(m_pipeName));
    tidyProfile(m_profile->folder());
}

OfficeProcess::~OfficeProcess()
{
    {
        const std::lock_guard lock(g_liveMutex);
        g_live.erase(this);
    }
    kill();
}

void OfficeProcess::stopAll() noexcept
{
    const std::lock_guard lock(g_liveMutex);
    g_allStopped = true;
    for (OfficeProcess* process : g_live)
        process->stop();
}

} // namespace docuflume::office
