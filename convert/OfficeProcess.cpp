#include "convert/OfficeProcess.h"

#include "BuildConfig.h"
#include "shell/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <thread>
#include <vector>

namespace docuflume::office {
namespace {

constexpr int kProfileSlots = 64;
// What a profile set up with this program's settings records; profiles of earlier settings
// (relative links) are set up again.
constexpr char kReadyMark[] = "set up, links absolute\n";

QString readVersion(const QString& programFolder)
{
    // The installed major.minor stands in the shared configuration.
    QFile main(programFolder + QStringLiteral("/../share/registry/main.xcd"));
    if (!main.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression version(
        QStringLiteral("name=\"ooSetupVersion\">\\s*<value>([0-9]+\\.[0-9]+)</value>"));
    const QRegularExpressionMatch match = version.match(QString::fromUtf8(main.readAll()));
    return match.hasMatch() ? match.captured(1) : QString();
}

bool hasWriterUi(const QString& programFolder)
{
    return !QDir(programFolder + QStringLiteral("/../share/config/soffice.cfg/modules/swriter/ui"))
                .entryList({QStringLiteral("*.ui")}, QDir::Files)
                .isEmpty();
}

// The profile's settings that make an instance start without its first-run checks.
QByteArray seed(const QString& version)
{
    QByteArray items;
    if (!version.isEmpty()) {
        // A profile that records the running version skips the graphics self-test at start.
        items += "<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
                 "oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                 version.toUtf8() + "</value></prop></item>\n";
    }
    items += "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"FirstRun\" "
             "oor:op=\"fuse\"><value>false</value></prop></item>\n";
    // Links to files outside the document (linked pictures) as absolute URLs: a link made
    // relative to the staging folder would point one folder off once the page is moved.
    items += "<item oor:path=\"/org.openoffice.Office.Common/Save/URL\"><prop "
             "oor:name=\"FileSystem\" oor:op=\"fuse\"><value>false</value></prop></item>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n" +
           items + "</oor:items>\n";
}

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

// Forks and executes argv[0]; returns once the child runs the program (or throws when it
// could not), so that a started instance is visible as the office from the start.
pid_t forkOffice(std::vector<char*> argv)
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
        ::execv(argv[0], argv.data());
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

void seedProfile(const QString& folder, const QString& version)
{
    QDir().mkpath(folder + QStringLiteral("/user"));
    QFile file(folder + QStringLiteral("/user/registrymodifications.xcu"));
    if (file.open(QIODevice::WriteOnly))
        file.write(seed(version));
}

std::optional<Installation> Installation::at(const QString& programFolder)
{
    if (!QFileInfo(programFolder + QStringLiteral("/soffice.bin")).isExecutable() ||
        !QFileInfo::exists(programFolder + QStringLiteral("/fundamentalrc")))
        return std::nullopt;
    return Installation{QDir(programFolder).canonicalPath(), readVersion(programFolder),
                        hasWriterUi(programFolder)};
}

std::optional<Installation> Installation::find()
{
    // The one the program was built against comes first: its UNO libraries are ours.
    QStringList candidates = {QStringLiteral(DOCUFLUME_LIBREOFFICE_PROGRAM_DIR),
                              QStringLiteral("/usr/lib/libreoffice/program"),
                              QStringLiteral("/usr/lib64/libreoffice/program")};
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (!onPath.isEmpty())
        candidates << QFileInfo(QFileInfo(onPath).canonicalFilePath()).absolutePath();
    for (const QString& folder :
         QDir(QStringLiteral("/opt"))
             .entryList({QStringLiteral("libreoffice*")}, QDir::Dirs | QDir::NoDotAndDotDot))
        candidates << QStringLiteral("/opt/") + folder + QStringLiteral("/program");
    for (const QString& candidate : candidates) {
        if (auto installation = at(candidate))
            return installation;
    }
    return std::nullopt;
}

QString profileRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/docuflume/libreoffice");
}

std::unique_ptr<ProfileLease> ProfileLease::acquire(const QString& root, const QString& version)
{
    if (!QDir().mkpath(root))
        throw Failure(Failure::PermissionDenied,
                      QStringLiteral("The folder %1 cannot be created.").arg(root));
    for (int slot = 0; slot < kProfileSlots; ++slot) {
        const QString folder = root + QStringLiteral("/profile-%1").arg(slot);
        const QByteArray lockPath = QFile::encodeName(folder + QStringLiteral(".lock"));
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        std::unique_ptr<ProfileLease> lease(new ProfileLease(folder, fd));
        // A profile not set up with the settings of this program's version starts afresh.
        if (!lease->ready()) {
            QDir(folder).removeRecursively();
            seedProfile(folder, version);
        }
        return lease;
    }
    throw Failure(Failure::PermissionDenied,
                  QStringLiteral("No free LibreOffice profile folder in %1.").arg(root));
}

bool ProfileLease::ready() const
{
    QFile marker(m_folder + QStringLiteral("/docuflume-ready"));
    return marker.open(QIODevice::ReadOnly) && marker.readAll() == kReadyMark;
}

void ProfileLease::markReady()
{
    QFile marker(m_folder + QStringLiteral("/docuflume-ready"));
    if (marker.open(QIODevice::WriteOnly))
        marker.write(kReadyMark);
}

ProfileLease::~ProfileLease()
{
    ::close(m_lockFd); // releases the lock
}

OfficeProcess::OfficeProcess(const Installation& installation,
                             std::unique_ptr<ProfileLease> profile, QString pipeName)
    : m_installation(installation), m_profile(std::move(profile)), m_pipeName(std::move(pipeName))
{}

std::unique_ptr<OfficeProcess> OfficeProcess::start(const Installation& installation,
                                                    std::unique_ptr<ProfileLease> profile,
                                                    const QString& pipeName)
{
    std::unique_ptr<OfficeProcess> process(
        new OfficeProcess(installation, std::move(profile), pipeName));
    process->prepareProfile();
    process->launch();
    return process;
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
    return Launcher::instance().run([&argv] { return forkOffice(argv); });
}

void OfficeProcess::launch()
{
    m_pid = spawn({"--accept=pipe,name=" + m_pipeName.toUtf8() + ";urp;"});
    m_status.reset();
}

void OfficeProcess::restart()
{
    kill();
    launch();
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
    // A killed instance leaves its pipe's socket behind.
    QFile::remove(QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(::getuid()).arg(m_pipeName));
}

OfficeProcess::~OfficeProcess()
{
    kill();
}

Watchdog::Watchdog() : m_thread([this] { run(); }) {}

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void Watchdog::arm(pid_t group, std::chrono::milliseconds limit)
{
    {
        std::lock_guard lock(m_mutex);
        m_group = group;
        m_fired = false;
        m_deadline = std::chrono::steady_clock::now() + limit;
    }
    m_wake.notify_all();
}

bool Watchdog::disarm()
{
    std::lock_guard lock(m_mutex);
    m_deadline.reset();
    return m_fired;
}

void Watchdog::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (!m_deadline) {
            m_wake.wait(lock);
            continue;
        }
        if (m_wake.wait_until(lock, *m_deadline) == std::cv_status::timeout && m_deadline &&
            std::chrono::steady_clock::now() >= *m_deadline) {
            ::kill(-m_group, SIGKILL);
            m_fired = true;
            m_deadline.reset();
        }
    }
}

bool foreignOfficeRunning(const QString& ourProfiles)
{
    const uid_t user = ::getuid();
    // Ours are started with their profile as a file URL below this folder.
    const QByteArray ours = QUrl::fromLocalFile(ourProfiles).toEncoded();
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (!isPid)
            continue;
        const QString folder = QStringLiteral("/proc/") + entry;
        if (QFileInfo(folder).ownerId() != user)
            continue;
        QFile stat(folder + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ...": an ended process that is not reaped yet runs nothing.
        const QByteArray status = stat.readAll();
        if (!status.contains("(soffice.bin) ") || status.contains("(soffice.bin) Z"))
            continue;
        // A process that has let go of its memory (its command line reads empty) is ending:
        // one of ours just told to quit, most likely.
        QFile commandLine(folder + QStringLiteral("/cmdline"));
        if (!commandLine.open(QIODevice::ReadOnly))
            continue;
        const QByteArray arguments = commandLine.readAll();
        if (arguments.isEmpty() || arguments.contains(ours))
            continue;
        return true;
    }
    return false;
}

} // namespace docuflume::office
