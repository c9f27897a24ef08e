#pragma once

// Fresh instances of Word, each driven from a thread of its own under a time limit: the
// caller waits for every call, serving its window meanwhile, and a call that outlives the
// limit gets its Word killed, so that a dialog nobody sees fails one export instead of
// hanging the program. Plain C++ and Win32, no Qt, so that it is tested under Wine.

#include "convert/com/ComDispatch.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace docuflume::com {

struct WordLimits
{
    // Any one call into Word: starting it, opening, saving.
    std::chrono::milliseconds call = std::chrono::seconds(180);
    // Trying again a call Word rejects while it is busy; within the call's limit.
    std::chrono::milliseconds busy = std::chrono::seconds(60);
    // Quitting: the call, and from it to the end of the process; then it is ended by force.
    std::chrono::milliseconds quit = std::chrono::seconds(10);
    // The check for a Word the user runs: its name asked, the window waiting meanwhile.
    std::chrono::milliseconds running = std::chrono::seconds(5);
};

// The failure of a start whose Word could not be told apart from other Words: one that
// hung could not be ended, so no more are started until the user has closed theirs.
inline constexpr HRESULT kWordNotToldApart = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);

class WordSession;
class LiveSessions;

// A document open in one of our instances.
class OpenedDocument
{
public:
    explicit OpenedDocument(std::shared_ptr<WordSession> session);
    ~OpenedDocument(); // closes the document in Word, without saving
    OpenedDocument(const OpenedDocument&) = delete;
    OpenedDocument& operator=(const OpenedDocument&) = delete;
    // SaveAs with these arguments. A FileName among them is saved through a staging folder
    // beside it (see PageStaging): all or nothing.
    void saveAs(const std::vector<NamedValue>& arguments);

private:
    std::shared_ptr<WordSession> m_session;
};

// A Word of our own. Every failure is a ComError whose description says what happened in
// the user's words: Word's own description, or that it was stopped at the time limit,
// stopped by itself, or stayed busy.
class WordInstance
{
public:
    explicit WordInstance(std::shared_ptr<WordSession> session);
    // One that was never quit is ended by force (unless the user works in it).
    ~WordInstance();
    WordInstance(const WordInstance&) = delete;
    WordInstance& operator=(const WordInstance&) = delete;

    std::wstring name();
    std::unique_ptr<OpenedDocument> open(const std::wstring& path);
    // Quits without saving and waits for the process to end; one that does not end, or
    // does not answer, is ended by force, which loses nothing: its document was read-only.
    // A Word the user has started working in meanwhile is left to them, neither quit nor
    // ended.
    void quit();
    // Its process (0 when it could not be told apart).
    DWORD processId() const;

private:
    std::shared_ptr<WordSession> m_session;
};

// What the check for a Word the user runs found.
struct RunningWord
{
    bool answered = false; // false: one is running, but it did not answer in time
    std::wstring name;
};

class WordEngine
{
public:
    // `whileWaiting` runs every few milliseconds while a call is under way: the window is
    // served there.
    explicit WordEngine(WordLimits limits = {}, std::function<void()> whileWaiting = {});
    ~WordEngine();
    WordEngine(const WordEngine&) = delete;
    WordEngine& operator=(const WordEngine&) = delete;

    // Starts a fresh Word, with macros disabled, alerts off and links not fetched at the
    // open, and tells its process apart from any other Word's: by a caption of its own shown
    // in its window or, failing that, as the one Word process that appeared during the
    // start. One that cannot be told apart is quit again, and the start fails with
    // kWordNotToldApart.
    std::unique_ptr<WordInstance> create();
    // The Word the user runs, asked its name from a thread of our own within the limit, so
    // that a Word that hangs or stays busy holds nobody up; throws ComError when none runs.
    // An instance of ours that is somehow still alive is ended first, so that it is never
    // taken for the user's.
    RunningWord findRunning();
    // The program ends now: every Word of ours ends with it, and the page it was saving
    // goes with its staging folder.
    void endNow() noexcept;
    // From any thread: every Word of ours ends now (one the user works in is left to them),
    // so that the call under way fails at once, as if its Word had stopped.
    void interrupt() noexcept;

    const WordLimits& limits() const noexcept { return m_limits; }

private:
    WordLimits m_limits;
    std::function<void()> m_whileWaiting;
    std::vector<std::weak_ptr<WordSession>> m_sessions;
    std::shared_ptr<LiveSessions> m_live;
};

} // namespace docuflume::com
