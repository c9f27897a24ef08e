#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

namespace docuflume {

// The pages one run writes, so that no two documents of the run write the same page. The
// first document whose page is `report.htm` keeps that name; a later one of the same run
// gets the first name of `report (2).htm`, `report (3).htm`, ... that no earlier document
// of the run has taken, whether or not those converted. Names are compared as the folder's
// file system compares them. A page left by an earlier run is not taken: a run replaces it.
class PageNames
{
public:
    // `ignoresCase` tells whether a folder's file system takes names differing only in case
    // for one file; asked once per folder.
    explicit PageNames(std::function<bool(const QString& folder)> ignoresCase);

    // The page the document that would write `outputPath` writes in this run; taken from now
    // on. A copy of this object plans the names of the documents to come without taking them.
    QString claim(const QString& outputPath);

private:
    std::function<bool(const QString&)> m_ignoresCase;
    QHash<QString, bool> m_folderIgnoresCase;
    QSet<QString> m_taken;
};

} // namespace docuflume
