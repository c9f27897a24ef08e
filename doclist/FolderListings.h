#pragma once

#include <QStringList>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace docuflume {

// The file listings (`ListFilesByPattern`) of many folders, read by a helper thread ahead
// of the window thread, which takes them in order while it fills the list. Reading the
// disk is most of a large scan's time; this way it overlaps the adding of rows and the
// repainting. The window thread lists a folder itself when the helper has not reached it.
class FolderListings
{
public:
    // The helper keeps at most `readAhead` folders' names waiting to be taken.
    FolderListings(QStringList folders, QString pattern, qsizetype readAhead = 256);
    ~FolderListings();
    FolderListings(const FolderListings&) = delete;
    FolderListings& operator=(const FolderListings&) = delete;

    // The names in folder `index` (0-based) of those given; each folder is taken once.
    // A failure of the listing is thrown here, on the taker's side.
    QStringList take(qsizetype index);

private:
    struct Listing
    {
        std::optional<QStringList> names;
        std::exception_ptr failure;
    };

    bool listNext(bool helper);

    const QStringList m_folders;
    const QString m_pattern;
    const qsizetype m_readAhead;
    std::mutex m_mutex;
    std::condition_variable m_listed; // a folder has been listed
    std::condition_variable m_taken;  // a folder has been taken, or the end has come
    std::vector<Listing> m_listings;
    qsizetype m_next = 0;      // the first folder nobody has claimed yet
    qsizetype m_takenUpTo = 0; // one past the last folder taken
    bool m_stop = false;
    std::thread m_helper;
};

} // namespace docuflume
