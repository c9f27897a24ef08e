#include "convert/com/WordEngine.h"

#include "convert/com/PageStaging.h"
#include "convert/com/ServerProcess.h"
#include "convert/com/WordCalls.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace docuflume::com {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a call whose Word was killed may take to return, and a call thread to end.
constexpr auto kGrace = 5s;
constexpr auto kSlice = 20ms;
// While a call is under way, how many slices pass between two looks at whether the user
// has taken our Word over.
constexpr int kSlicesPerLook = 10;

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
    // Lets the thread go without waiting for it: it ends once the call it is in returns.
    void abandon()
    {
        {
            const std::lock_guard lock(m_state->mutex);
            m_state->stopping = true;
        }
        m_state->wake.notify_all();
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

std::wstring hex(unsigned long value)
{
    wchar_t text[16];
    swprintf(text, 16, L"%lx", value);
    return text;
}

const wchar_t* const kNotToldApart =
    L"it could not be told apart from another Word started at the same time. The conversion "
    L"was stopped: close Word and start again.";

} // namespace

// The instances of an engine that live, for an interruption, which comes from a thread of its
// own: under its lock none of them ends meanwhile, and none starts once it has come.
class LiveSessions
{
public:
    // False: the engine was interrupted, and the session is not to run.
    bool add(WordSession* session)
    {
        const std::lock_guard lock(m_mutex);
        m_sessions.insert(session);
        return !m_interrupted;
    }
    void remove(WordSession* session)
    {
        const std::lock_guard lock(m_mutex);
        m_sessions.erase(session);
    }
    template <typename Each> void interrupt(Each each)
    {
        const std::lock_guard lock(m_mutex);
        m_interrupted = true;
        for (WordSession* session : m_sessions)
            each(*session);
    }

private:
    std::mutex m_mutex;
    bool m_interrupted = false;
    std::set<WordSession*> m_sessions;
};

// One instance of Word: its call thread, its process and the objects held in it, which
// only the call thread touches.
class WordSession : public std::enable_shared_from_this<WordSession>
{
public:
    enum class Stage { Starting, Converting, Quitting };

    WordSession(const WordLimits& limits, std::function<void()> whileWaiting,
                std::shared_ptr<LiveSessions> live)
        : m_limits(limits), m_whileWaiting(std::move(whileWaiting)),
          m_image(LocalServerImage(word::kClassName)), m_before(ProcessesRunning(m_image)),
          m_thread(limits.busy), m_live(std::move(live))
    {
        if (!m_live->add(this))
            m_ended = true;
    }
    ~WordSession()
    {
        m_live->remove(this);
        end();
    }

    // The call thread's.
    Dispatch application;
    Dispatch document;
    Dispatch options;
    bool linksTurnedOff = false;
    std::int32_t documentsOpen = 0; // of ours
    // The window thread's: the document's file name, for the failure texts, and the save
    // under way.
    std::wstring shown;
    PageStaging* staging = nullptr;

    // Runs `work` on the call thread under the limit of its stage. A Word that dies, or is
    // killed at the limit, fails the call with a text of its own; at quitting, nothing is
    // lost then, and the call does not fail.
    void call(Stage stage, std::function<void(WordSession&)> work)
    {
        if (m_ended) {
            if (stage == Stage::Quitting)
                return;
            throw ComError(RPC_E_DISCONNECTED, stoppedText(stage));
        }
        auto failure = std::make_shared<std::exception_ptr>();
        const auto limit = stage == Stage::Quitting ? m_limits.quit : m_limits.call;
        m_deadline = Clock::now() + limit;
        int slices = 0;
        const bool finished = m_thread.run(
            [self = shared_from_this(), work = std::move(work), failure] {
                try {
                    work(*self);
                } catch (...) {
                    *failure = std::current_exception();
                }
            },
            m_deadline,
            [this, &slices] {
                if (++slices % kSlicesPerLook == 0)
                    noticeTakeover();
                if (m_whileWaiting)
                    m_whileWaiting();
            });
        if (stage == Stage::Starting)
            decide();
        noticeTakeover();
        if (!finished) {
            const bool stopped = kill();
            // Its server gone, the call returns at once; one that does not, or a Word that is
            // left running, is left to itself with what it holds.
            if (!stopped || !m_thread.wait(Clock::now() + kGrace, m_whileWaiting)) {
                m_abandoned = true;
                m_thread.abandon();
            }
            if (stage == Stage::Quitting)
                return;
            throw limitFailure(stage, limit, stopped);
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

    // On the call thread, right after the start: which process is ours, told once and for
    // all. Word shows a caption of ours, unique to this instance, in its window; failing
    // that, ours is the one process of Word's program that appeared since the start began.
    // A Word that ran before the start is never ours to end.
    void identify()
    {
        const std::optional<DWORD> byCaption = processShowingOurCaption();
        const std::lock_guard lock(m_processMutex);
        if (m_decided)
            return;
        if (!byCaption)
            holdTheNewServer();
        else if (!m_before.contains(*byCaption))
            holdAsOurs(*byCaption);
        m_decided = true;
    }

    bool identified() const noexcept
    {
        const std::lock_guard lock(m_processMutex);
        return bool(m_process);
    }

    // Links are not fetched when a document opens, for as long as this Word lives; the
    // setting is the user's own, so it is put back before Word quits.
    void turnLinksOff()
    {
        options = application.object(L"Options");
        if (word::updatesLinksAtOpen(options)) {
            word::setUpdateLinksAtOpen(options, false);
            linksTurnedOff = true;
        }
    }

    // On the call thread: the user's setting back, and Word quit without saving, unless the
    // user has started working in it meanwhile; then it is left to them.
    void quitIfOurs()
    {
        document.release();
        if (linksTurnedOff) {
            word::setUpdateLinksAtOpen(options, true);
            linksTurnedOff = false;
        }
        options.release();
        if (!word::onlyOurs(application, documentsOpen))
            leaveToUser();
        else
            word::quit(application);
        application.release();
    }

    // Ends our Word by force, unless the user works in it; true when it is gone. Only a
    // process told apart during the start is ever ended.
    bool kill() noexcept
    {
        m_ended = true;
        const std::lock_guard lock(m_processMutex);
        if (!m_process)
            return false;
        if (m_takenOver || ShowsWindow(m_process.id(), word::kWindowClass)) {
            leaveLocked();
            return false;
        }
        return m_process.terminate();
    }

    // After Quit: the process ends by itself within the quit's limit, or is ended.
    void awaitEnd()
    {
        DWORD id = 0;
        {
            const std::lock_guard lock(m_processMutex);
            id = m_process.id();
        }
        while (id && !m_ended && !m_takenOver) {
            {
                const std::lock_guard lock(m_processMutex);
                if (m_process.waitForEnd(DWORD(kSlice.count())))
                    break;
            }
            if (Clock::now() >= m_deadline) {
                kill();
                break;
            }
            if (m_whileWaiting)
                m_whileWaiting();
        }
        m_ended = true;
    }

    // Lets go of everything in Word and ends the call thread; a Word still running is
    // killed, unless it is the user's now.
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
                        self->options.release();
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
    // The start is over, however it went (or its limit has come): where its Word was not
    // told apart yet, the one new process of Word's program is ours, if there is one alone.
    void decide()
    {
        const std::lock_guard lock(m_processMutex);
        if (!m_decided)
            holdTheNewServer();
        m_decided = true;
    }

    // Under the process mutex.
    void holdTheNewServer()
    {
        std::set<DWORD> fresh = ProcessesRunning(m_image);
        for (DWORD id : m_before)
            fresh.erase(id);
        if (fresh.size() == 1)
            holdAsOurs(*fresh.begin());
    }

    void holdAsOurs(DWORD id)
    {
        m_process = ServerProcess(id);
        m_process.tieToProgram();
    }

    // On the call thread: Word's caption set to a text of ours alone, the one process whose
    // window shows it, and the caption put back.
    std::optional<DWORD> processShowingOurCaption()
    {
        // A Word without a caption, or one that refuses it, is told apart otherwise; one that
        // is gone or busy fails the start.
        const auto rethrowIfLost = [](const ComError& error) {
            if (ServerIsGone(error.code()) || ServerWasBusy(error.code()))
                throw;
        };
        std::wstring original;
        try {
            original = word::caption(application);
        } catch (const ComError& error) {
            rethrowIfLost(error);
            return std::nullopt;
        }
        static std::atomic<unsigned long> drawn{0};
        const std::wstring mark = L"Docuflume#" + hex(GetCurrentProcessId()) + L"-" + hex(++drawn) +
                                  L"-" + hex(GetTickCount());
        std::optional<DWORD> found;
        try {
            word::setCaption(application, mark);
            for (int look = 0; look < 10 && !found; ++look) {
                found = ProcessShowing(mark);
                if (!found)
                    Sleep(10);
            }
            word::setCaption(application, original);
        } catch (const ComError& error) {
            rethrowIfLost(error);
        }
        return found;
    }

    void leaveToUser() noexcept
    {
        const std::lock_guard lock(m_processMutex);
        leaveLocked();
    }

    // The user has started Word and landed in ours: it is theirs from now on, and no longer
    // ends with this program. Under the process mutex.
    void leaveLocked() noexcept
    {
        m_takenOver = true;
        m_process.untie();
    }

    // On the window thread: whether our Word shows a window, as it does only once the user
    // works in it.
    void noticeTakeover() noexcept
    {
        if (m_takenOver)
            return;
        const std::lock_guard lock(m_processMutex);
        if (m_process.running() && ShowsWindow(m_process.id(), word::kWindowClass))
            leaveLocked();
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

    // The failure of a call that outlived its limit, as it was ended or not.
    ComError limitFailure(Stage stage, std::chrono::milliseconds limit, bool stopped) const
    {
        const std::wstring late = stage == Stage::Starting
                                      ? L"Word did not start within " + seconds(limit) + L" seconds"
                                      : L"Word did not finish converting " + shown + L" within " +
                                            seconds(limit) + L" seconds";
        if (stopped)
            return ComError(RPC_E_TIMEOUT, late + L" and was stopped.");
        if (m_takenOver)
            return ComError(RPC_E_TIMEOUT, late + L". It was left running: you are working in it.");
        if (!processId())
            return ComError(kWordNotToldApart,
                            late + L". It could not be stopped: " + kNotToldApart);
        return ComError(RPC_E_TIMEOUT, late + L" and could not be stopped.");
    }

    const WordLimits m_limits;
    const std::function<void()> m_whileWaiting;
    const std::wstring m_image;
    const std::set<DWORD> m_before;
    mutable std::mutex m_processMutex;
    ServerProcess m_process;
    bool m_decided = false; // which process is ours, if any, is known: never looked for again
    CallThread m_thread;
    Clock::time_point m_deadline;          // of the call under way, or of the last one
    std::atomic<bool> m_ended = false;     // its process is gone, or is to be
    std::atomic<bool> m_takenOver = false; // the user works in it: it is theirs
    bool m_abandoned = false;              // its call thread is stuck in a call
    bool m_finished = false;
    const std::shared_ptr<LiveSessions> m_live;
};

namespace {

// Quits the instance as WordInstance::quit() does.
void quitSession(WordSession& session)
{
    try {
        session.call(WordSession::Stage::Quitting, [](WordSession& ours) { ours.quitIfOurs(); });
    } catch (...) {
        // Word refused to quit: it is ended all the same.
        session.end();
        throw;
    }
    session.awaitEnd();
    session.end();
}

} // namespace

OpenedDocument::OpenedDocument(std::shared_ptr<WordSession> session) : m_session(std::move(session))
{}

OpenedDocument::~OpenedDocument()
{
    try {
        m_session->call(WordSession::Stage::Converting, [](WordSession& session) {
            const Dispatch ours = std::exchange(session.document, Dispatch());
            if (ours) {
                word::close(ours);
                --session.documentsOpen;
            }
        });
    } catch (...) {
        // A document Word cannot let go of goes with its instance.
    }
}

void OpenedDocument::saveAs(const std::vector<NamedValue>& arguments)
{
    std::vector<NamedValue> named = arguments;
    const auto file = std::find_if(named.begin(), named.end(), [](const NamedValue& argument) {
        return _wcsicmp(argument.name.c_str(), L"FileName") == 0;
    });
    std::optional<PageStaging> staging;
    if (file != named.end()) {
        staging.emplace(file->value.toString());
        file->value = Variant(staging->stagedPage());
    }
    m_session->staging = staging ? &*staging : nullptr;
    try {
        m_session->call(WordSession::Stage::Converting,
                        [named](WordSession& session) { word::saveAs(session.document, named); });
    } catch (...) {
        m_session->staging = nullptr;
        throw;
    }
    m_session->staging = nullptr;
    if (staging)
        staging->commit();
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
        ++session.documentsOpen;
    });
    return std::make_unique<OpenedDocument>(m_session);
}

void WordInstance::quit()
{
    quitSession(*m_session);
}

DWORD WordInstance::processId() const
{
    return m_session->processId();
}

WordEngine::WordEngine(WordLimits limits, std::function<void()> whileWaiting)
    : m_limits(limits), m_whileWaiting(std::move(whileWaiting)),
      m_live(std::make_shared<LiveSessions>())
{}

WordEngine::~WordEngine() = default;

std::unique_ptr<WordInstance> WordEngine::create()
{
    std::erase_if(m_sessions, [](const std::weak_ptr<WordSession>& s) { return s.expired(); });
    auto session = std::make_shared<WordSession>(m_limits, m_whileWaiting, m_live);
    m_sessions.push_back(session);
    try {
        session->call(WordSession::Stage::Starting, [](WordSession& started) {
            started.application = word::start();
            started.identify();
            if (!started.identified())
                return; // quit again below: nothing more is asked of it
            word::makeSafe(started.application);
            started.turnLinksOff();
        });
    } catch (...) {
        session->end();
        throw;
    }
    if (!session->identified()) {
        // Ours for certain, since COM handed it to us, so it may be quit; but should it hang,
        // nothing could end it.
        try {
            quitSession(*session);
        } catch (...) {
        }
        throw ComError(kWordNotToldApart,
                       std::wstring(L"Word could not be told apart from another Word started at "
                                    L"the same time, so it could not be stopped if it stopped "
                                    L"answering. The conversion was stopped: close Word and "
                                    L"start again."));
    }
    return std::make_unique<WordInstance>(std::move(session));
}

RunningWord WordEngine::findRunning()
{
    for (const std::weak_ptr<WordSession>& held : m_sessions) {
        if (const auto session = held.lock(); session && session->alive())
            session->kill();
    }
    struct Found
    {
        std::wstring name;
        std::exception_ptr failure;
    };
    auto found = std::make_shared<Found>();
    CallThread thread(m_limits.running);
    const bool finished = thread.run(
        [found] {
            try {
                const Dispatch running = word::running();
                found->name = word::name(running);
            } catch (...) {
                found->failure = std::current_exception();
            }
        },
        Clock::now() + m_limits.running, m_whileWaiting);
    // One that hangs or stays busy is the user's: it is left to itself, and taken for the
    // Word it is registered as.
    if (!finished) {
        thread.abandon();
        return {};
    }
    if (found->failure) {
        try {
            std::rethrow_exception(found->failure);
        } catch (const ComError& error) {
            if (ServerWasBusy(error.code()))
                return {};
            throw;
        }
    }
    return {true, found->name};
}

void WordEngine::endNow() noexcept
{
    for (const std::weak_ptr<WordSession>& held : m_sessions) {
        if (const auto session = held.lock()) {
            session->kill();
            if (session->staging)
                session->staging->discard();
        }
    }
}

void WordEngine::interrupt() noexcept
{
    m_live->interrupt([](WordSession& session) { session.kill(); });
}

} // namespace docuflume::com
