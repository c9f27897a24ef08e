#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace docuflume::test {

// The browser the page checks open pages in (Debian's chromium), or empty when there is none.
QString FindBrowser();

// What a reader sees of a page's pictures (<img>): how many loaded, and the URLs (as the
// browser resolved them) of those that did not. Pictures on other hosts (http, https, ftp)
// are left out, since the tests have no network.
struct PagePictures
{
    int shown = 0;
    QStringList broken;
};

// Opens every page in a real browser, headless, as a reader opens it from its folder.
// Nothing, with `error` set, when the browser could not be run or could not read a page.
std::optional<QMap<QString, PagePictures>> PicturesInBrowser(const QStringList& pages,
                                                             QString* error);

} // namespace docuflume::test
