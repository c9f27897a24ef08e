#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace docuflume::office {

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

} // namespace docuflume::office
