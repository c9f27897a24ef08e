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
    FolderListings(QStringList folders, QString pattern);
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

    bool listNext();

    const QStringList m_folders;
    const QString m_pattern;
    std::mutex m_mutex;
    std::condition_variable m_listed;
    std::vector<Listing> m_listings;
    qsizetype m_next = 0; // the first folder nobody has claimed yet
    bool m_stop = false;
    std::thread m_helper;
};

} // namespace docuflume
