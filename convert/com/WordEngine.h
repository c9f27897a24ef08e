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
    // Any one call into Word: starting it, opening, saving, quitting.
    std::chrono::milliseconds call = std::chrono::seconds(180);
    // Trying again a call Word rejects while it is busy; within the call's limit.
    std::chrono::milliseconds busy = std::chrono::seconds(60);
    // From Quit to the end of its process; then it is ended by force.
    std::chrono::milliseconds quit = std::chrono::seconds(10);
};

class WordSession;

// A document open in one of our instances.
class OpenedDocument
{
public:
    explicit OpenedDocument(std::shared_ptr<WordSession> session);
    ~OpenedDocument(); // lets go of the document in Word
    OpenedDocument(const OpenedDocument&) = delete;
    OpenedDocument& operator=(const OpenedDocument&) = delete;
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
    // One that was never quit is ended by force.
    ~WordInstance();
    WordInstance(const WordInstance&) = delete;
    WordInstance& operator=(const WordInstance&) = delete;

    std::wstring name();
    std::unique_ptr<OpenedDocument> open(const std::wstring& path);
    // Quits without saving and waits for the process to end; one that does not end, or
    // does not answer, is ended by force, which loses nothing: its document was read-only.
    void quit();
    // Its process, when it could be told apart (0 otherwise).
    DWORD processId() const;

private:
    std::shared_ptr<WordSession> m_session;
};

class WordEngine
{
public:
    // `whileWaiting` runs every few milliseconds while a call is under way: the window's
    // events are served there.
    explicit WordEngine(WordLimits limits = {}, std::function<void()> whileWaiting = {});
    ~WordEngine();
    WordEngine(const WordEngine&) = delete;
    WordEngine& operator=(const WordEngine&) = delete;

    // Starts a fresh Word, with macros disabled and alerts off.
    std::unique_ptr<WordInstance> create();
    // The Word the user runs, on the calling thread. An instance of ours that is somehow
    // still alive is ended first, so that it is never taken for the user's.
    Dispatch attachRunning();
    // The program ends now: every Word of ours ends with it.
    void endNow() noexcept;

    const WordLimits& limits() const noexcept { return m_limits; }

private:
    WordLimits m_limits;
    std::function<void()> m_whileWaiting;
    std::vector<std::weak_ptr<WordSession>> m_sessions;
};

} // namespace docuflume::com
