#include "doclist/FolderListings.h"

#include "shell/PathHelpers.h"

namespace docuflume {

FolderListings::FolderListings(QStringList folders, QString pattern, qsizetype readAhead)
    : m_folders(std::move(folders)), m_pattern(std::move(pattern)),
      m_readAhead(std::max<qsizetype>(readAhead, 1)), m_listings(size_t(m_folders.size()))
{
    // One folder is not worth a thread.
    if (m_folders.size() > 1) {
        m_helper = std::thread([this] {
            while (listNext(true)) {
            }
        });
    }
}

FolderListings::~FolderListings()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_taken.notify_all();
    if (m_helper.joinable())
        m_helper.join();
}

// Claims the next folder nobody has begun and lists it; false when none is left. The
// helper first waits until that folder is within reach of the taker.
bool FolderListings::listNext(bool helper)
{
    qsizetype index = 0;
    {
        std::unique_lock lock(m_mutex);
        if (helper)
            m_taken.wait(lock, [&] { return m_stop || m_next < m_takenUpTo + m_readAhead; });
        if (m_stop || m_next >= m_folders.size())
            return false;
        index = m_next++;
    }
    Listing listing;
    try {
        listing.names = ListFilesByPattern(m_folders[index], m_pattern);
    } catch (...) {
        listing.failure = std::current_exception();
        listing.names.emplace();
    }
    {
        const std::lock_guard lock(m_mutex);
        m_listings[size_t(index)] = std::move(listing);
    }
    m_listed.notify_all();
    return true;
}

QStringList FolderListings::take(qsizetype index)
{
    std::unique_lock lock(m_mutex);
    Listing& listing = m_listings[size_t(index)];
    while (!listing.names) {
        if (m_next < m_folders.size()) {
            // Rather than wait, help: list the next unclaimed folder here.
            lock.unlock();
            listNext(false);
            lock.lock();
        } else {
            m_listed.wait(lock);
        }
    }
    QStringList names = std::move(*listing.names);
    listing.names = QStringList(); // taken; keeps the slot marked as listed
    m_takenUpTo = std::max(m_takenUpTo, index + 1);
    const std::exception_ptr failure = std::exchange(listing.failure, nullptr);
    lock.unlock();
    m_taken.notify_all();
    if (failure)
        std::rethrow_exception(failure);
    return names;
}

} // namespace docuflume
