#include "convert/libreoffice/Watchdog.h"

#include <csignal>

namespace docuflume::office {

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

} // namespace docuflume::office
