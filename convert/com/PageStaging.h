#pragma once

// A page saved all or nothing: Word writes it, and the files it puts beside it (a folder of
// pictures), into a staging folder of ours beside the page's place; only a save that
// returned is moved into place. A save that fails, or a Word killed in the middle of one,
// leaves the output folder as it was. Plain Win32, no Qt.

#include <string>

namespace docuflume::com {

class PageStaging
{
public:
    // Makes the staging folder beside `target`, the page's path, after removing those that
    // runs of this program which were killed left there. Throws ComError when the folder
    // cannot be written.
    explicit PageStaging(const std::wstring& target);
    // The staging folder goes, with whatever is still in it.
    ~PageStaging();
    PageStaging(const PageStaging&) = delete;
    PageStaging& operator=(const PageStaging&) = delete;

    // Where Word is to save the page: named as the target, in the staging folder.
    std::wstring stagedPage() const;
    // Moves what was saved into place, the files beside the page first and the page last;
    // what stood there under the same names is replaced. When a move fails, the output
    // folder is put back as it was and a ComError says so.
    void commit();
    // Removes the staging folder now (its writer is gone). Safe to call more than once.
    void discard() noexcept;

private:
    std::wstring m_folder;  // the output folder
    std::wstring m_name;    // the page's file name
    std::wstring m_staging; // empty once removed
};

} // namespace docuflume::com
