#include "app/ApplicationTitle.h"

namespace docuflume {
namespace {

constexpr int kTitleLength = 40;

} // namespace

QString ApplicationTitleFor(const QString& productName)
{
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(u' ');
        if (blank < 0)
            break; // nothing left to cut at
        title.truncate(blank);
    } while (title.size() > kTitleLength);
    return title;
}

} // namespace docuflume
