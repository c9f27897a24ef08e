#include "convert/com/WordEngine.h"

#include "convert/com/ServerProcess.h"
#include "convert/com/WordCalls.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace docuflume::com {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a call whose Word was killed may take to return, and a call thread to end.
constexpr auto kGrace = 5s;
constexpr auto kSlice = 20ms;

// A thread with an apartment of its own that runs one call at a time. Its state is shared
// with the thread, so that a thread stuck in a call can be left to itself.
class CallThread
{
public:
    explicit CallThread(std::chrono::milliseconds patience) : m_state(std::make_shared<State>())
    {
        std::thread([state = m_state, patience] { state->loop(patience); }).detach();
    }
    ~CallThread() { finish(nullptr); }
    CallThread(const CallThread&) = delete;
    CallThread& operator=(const CallThread&) = delete;

    // Runs `task` there; true when it has finished before `deadline`.
    bool run(std::function<void()> task, Clock::time_point deadline,
             const std::function<void()>& whileWaiting)
    {
        {
            const std::lock_guard lock(m_state->mutex);
            m_state->task = std::move(task);
            m_state->done = false;
        }
        m_state->wake.notify_all();
        return waitUntil(deadline, whileWaiting, [this] { return m_state->done; });
    }
    // Waits on for the task under way.
    bool wait(Clock::time_point deadline, const std::function<void()>& whileWaiting)
    {
        return waitUntil(deadline, whileWaiting, [this] { return m_state->done; });
    }
    // Ends the thread; one that does not end within the grace is left to itself.
    void finish(const std::function<void()>& whileWaiting)
    {
        {
            const std::lock_guard lock(m_state->mutex);
            if (m_state->stopping)
                return;
            m_state->stopping = true;
        }
        m_state->wake.notify_all();
        waitUntil(Clock::now() + kGrace, whileWaiting, [this] { return m_state->ended; });
    }

private:
    struct State
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::function<void()> task;
        bool done = true;
        bool stopping = false;
        bool ended = false;

        void loop(std::chrono::milliseconds patience)
        {
            const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            {
                const BusyRetry retry(patience);
                std::unique_lock lock(mutex);
                for (;;) {
                    // A single-threaded apartment serves its messages while it waits.
                    while (!wake.wait_for(lock, kSlice, [&] { return task || stopping; })) {
                        lock.unlock();
                        MSG message;
                        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                            DispatchMessageW(&message);
                        lock.lock();
                    }
                    if (!task)
                        break;
                    std::function<void()> next = std::move(task);
                    task = nullptr;
                    lock.unlock();
                    next(); // catches its own failures
                    next = nullptr;
                    lock.lock();
                    done = true;
                    wake.notify_all();
                }
            }
            if (SUCCEEDED(started))
                CoUninitialize();
            const std::lock_guard lock(mutex);
            ended = true;
            wake.notify_all();
        }
    };

    template <typename Ready>
    bool waitUntil(Clock::time_point deadline, const std::function<void()>& whileWaiting,
                   Ready ready)
    {
        std::unique_lock lock(m_state->mutex);
        for (;;) {
            if (ready())
                return true;
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            m_state->wake.wait_until(lock, std::min(deadline, now + kSlice));
            if (!ready() && whileWaiting) {
                lock.unlock();
                whileWaiting();
                lock.lock();
            }
        }
    }

    std::shared_ptr<State> m_state;
};

std::wstring seconds(std::chrono::milliseconds limit)
{
    return std::to_wstring(std::chrono::duration_cast<std::chrono::seconds>(limit).count());
}

std::wstring fileNameOf(const std::wstring& path)
{
    return path.substr(path.find_last_of(L"\\/") + 1);
}

} // namespace

// One instance of Word: its call thread, its process and the objects held in it, which
// only the call thread touches.
class WordSession : public std::enable_shared_from_this<WordSession>
{
public:
    enum class Stage { Starting, Converting, Quitting };

    WordSession(const WordLimits& limits, std::function<void()> whileWaiting)
        : m_limits(limits), m_whileWaiting(std::move(whileWaiting)),
          m_image(LocalServerImage(word::kClassName)), m_before(ProcessesRunning(m_image)),
          m_thread(limits.busy)
    {}
    ~WordSession() { end(); }

    Dispatch application;
    Dispatch document;
    std::wstring shown; // the document's file name, for the failure texts

    // Runs `work` on the call thread under the limit. A Word that dies, or is killed at the
    // limit, fails the call with a text of its own; at quitting, nothing is lost then, and
    // the call does not fail.
    void call(Stage stage, std::function<void(WordSession&)> work)
    {
        if (m_ended) {
            if (stage == Stage::Quitting)
                return;
            throw ComError(RPC_E_DISCONNECTED, stoppedText(stage));
        }
        auto failure = std::make_shared<std::exception_ptr>();
        const bool finished = m_thread.run(
            [self = shared_from_this(), work = std::move(work), failure] {
                try {
                    work(*self);
                } catch (...) {
                    *failure = std::current_exception();
                }
            },
            Clock::now() + m_limits.call, m_whileWaiting);
        if (!finished) {
            kill();
            // Its server gone, the call returns at once; one that does not is left to
            // itself with what it holds.
            if (!m_thread.wait(Clock::now() + kGrace, m_whileWaiting))
                m_abandoned = true;
            if (stage == Stage::Quitting)
                return;
            throw ComError(RPC_E_TIMEOUT,
                           stage == Stage::Starting
                               ? L"Word did not start within " + seconds(m_limits.call) +
                                     L" seconds and was stopped."
                               : L"Word did not finish converting " + shown + L" within " +
                                     seconds(m_limits.call) + L" seconds and was stopped.");
        }
        if (!*failure)
            return;
        try {
            std::rethrow_exception(*failure);
        } catch (const ComError& error) {
            if (ServerIsGone(error.code()) || stoppedByItself()) {
                kill();
                if (stage == Stage::Quitting)
                    return;
                throw ComError(error.code(), stoppedText(stage));
            }
            if (ServerWasBusy(error.code())) {
                if (stage == Stage::Quitting) {
                    kill();
                    return;
                }
                throw ComError(error.code(),
                               L"Word was busy for " + seconds(m_limits.busy) +
                                   (stage == Stage::Starting
                                        ? L" seconds and did not start."
                                        : L" seconds and did not convert " + shown + L"."));
            }
            throw;
        }
    }

    // Right after the start, on the call thread: the one server process that appeared
    // since is ours. Where more than one did (the user started Word at the same moment),
    // none can be told apart, and none is ever killed.
    void identify()
    {
        const std::lock_guard lock(m_processMutex);
        holdTheNewServer();
    }

    void kill() noexcept
    {
        m_ended = true;
        const std::lock_guard lock(m_processMutex);
        // Where the start itself hangs, it was not known yet.
        holdTheNewServer();
        m_process.terminate();
    }

    // After Quit: the process ends by itself within the limit, or is ended.
    void awaitEnd()
    {
        DWORD id = 0;
        {
            const std::lock_guard lock(m_processMutex);
            id = m_process.id();
        }
        const auto deadline = Clock::now() + m_limits.quit;
        while (id && !m_ended) {
            {
                const std::lock_guard lock(m_processMutex);
                if (m_process.waitForEnd(DWORD(kSlice.count())))
                    break;
            }
            if (Clock::now() >= deadline) {
                kill();
                break;
            }
            if (m_whileWaiting)
                m_whileWaiting();
        }
        m_ended = true;
    }

    // Lets go of everything in Word and ends the call thread; a Word still running is
    // killed.
    void end() noexcept
    {
        if (m_finished)
            return;
        m_finished = true;
        if (!m_abandoned) {
            try {
                m_thread.run(
                    [self = shared_from_this()] {
                        self->document.release();
                        self->application.release();
                    },
                    Clock::now() + kGrace, m_whileWaiting);
            } catch (...) {
            }
        }
        kill();
        if (!m_abandoned)
            m_thread.finish(m_whileWaiting);
    }

    bool alive() const noexcept
    {
        const std::lock_guard lock(m_processMutex);
        return m_process.running();
    }

    DWORD processId() const noexcept
    {
        const std::lock_guard lock(m_processMutex);
        return m_process.id();
    }

private:
    // Takes hold of the one server process that appeared since the start began, if it is
    // not held yet; under the process mutex.
    void holdTheNewServer()
    {
        if (m_process)
            return;
        std::set<DWORD> fresh = ProcessesRunning(m_image);
        for (DWORD id : m_before)
            fresh.erase(id);
        if (fresh.size() == 1)
            m_process = ServerProcess(*fresh.begin());
    }

    bool stoppedByItself() const noexcept
    {
        const std::lock_guard lock(m_processMutex);
        return m_process && !m_process.running();
    }

    std::wstring stoppedText(Stage stage) const
    {
        return stage == Stage::Starting ? std::wstring(L"Word stopped while starting.")
                                        : L"Word stopped while converting " + shown + L".";
    }

    const WordLimits m_limits;
    const std::function<void()> m_whileWaiting;
    const std::wstring m_image;
    const std::set<DWORD> m_before;
    mutable std::mutex m_processMutex;
    ServerProcess m_process;
    CallThread m_thread;
    bool m_ended = false;     // its process is gone, or is to be
    bool m_abandoned = false; // its call thread is stuck in a call
    bool m_finished = false;
};

OpenedDocument::OpenedDocument(std::shared_ptr<WordSession> session) : m_session(std::move(session))
{}

OpenedDocument::~OpenedDocument()
{
    try {
        m_session->call(WordSession::Stage::Converting,
                        [](WordSession& session) { session.document.release(); });
    } catch (...) {
        // A document Word cannot let go of goes with its instance.
    }
}

void OpenedDocument::saveAs(const std::vector<NamedValue>& arguments)
{
    m_session->call(WordSession::Stage::Converting, [arguments](WordSession& session) {
        word::saveAs(session.document, arguments);
    });
}

WordInstance::WordInstance(std::shared_ptr<WordSession> session) : m_session(std::move(session)) {}

WordInstance::~WordInstance()
{
    m_session->end();
}

std::wstring WordInstance::name()
{
    auto name = std::make_shared<std::wstring>();
    m_session->call(WordSession::Stage::Converting,
                    [name](WordSession& session) { *name = word::name(session.application); });
    return *name;
}

std::unique_ptr<OpenedDocument> WordInstance::open(const std::wstring& path)
{
    m_session->shown = fileNameOf(path);
    m_session->call(WordSession::Stage::Converting, [path](WordSession& session) {
        session.document = word::open(session.application, path);
    });
    return std::make_unique<OpenedDocument>(m_session);
}

void WordInstance::quit()
{
    try {
        m_session->call(WordSession::Stage::Quitting, [](WordSession& session) {
            session.document.release();
            word::quit(session.application);
            session.application.release();
        });
    } catch (...) {
        // Word refused to quit: it is ended all the same.
        m_session->end();
        throw;
    }
    m_session->awaitEnd();
    m_session->end();
}

DWORD WordInstance::processId() const
{
    return m_session->processId();
}

WordEngine::WordEngine(WordLimits limits, std::function<void()> whileWaiting)
    : m_limits(limits), m_whileWaiting(std::move(whileWaiting))
{}

WordEngine::~WordEngine() = default;

std::unique_ptr<WordInstance> WordEngine::create()
{
    std::erase_if(m_sessions, [](const std::weak_ptr<WordSession>& s) { return s.expired(); });
    auto session = std::make_shared<WordSession>(m_limits, m_whileWaiting);
    m_sessions.push_back(session);
    try {
        session->call(WordSession::Stage::Starting, [](WordSession& started) {
            started.application = word::start();
            started.identify();
            word::makeSafe(started.application);
        });
    } catch (...) {
        session->end();
        throw;
    }
    return std::make_unique<WordInstance>(std::move(session));
}

Dispatch WordEngine::attachRunning()
{
    for (const std::weak_ptr<WordSession>& held : m_sessions) {
        if (const auto session = held.lock(); session && session->alive())
            session->kill();
    }
    return word::running();
}

void WordEngine::endNow() noexcept
{
    for (const std::weak_ptr<WordSession>& held : m_sessions) {
        if (const auto session = held.lock())
            session->kill();
    }
}

} // namespace docuflume::com
