#include "convert/libreoffice/DocumentRevisions.h"

#include "convert/libreoffice/UnoGlue.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/XRedlinesSupplier.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>
#include <com/sun/star/util/DateTime.hpp>

#include <QHash>

#include <vector>

namespace docuflume::office {
namespace {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using rtl::OUString;

template <typename T>
T read(const Reference<css::beans::XPropertySet>& properties, const char* name)
{
    T value{};
    const OUString key = OUString::createFromAscii(name);
    if (properties->getPropertySetInfo()->hasPropertyByName(key))
        properties->getPropertyValue(key) >>= value;
    return value;
}

QString dateOf(const css::util::DateTime& date)
{
    if (date.Year == 0)
        return {};
    return QStringLiteral("%1-%2-%3T%4:%5:%6%7")
        .arg(date.Year, 4, 10, QLatin1Char('0'))
        .arg(date.Month, 2, 10, QLatin1Char('0'))
        .arg(date.Day, 2, 10, QLatin1Char('0'))
        .arg(date.Hours, 2, 10, QLatin1Char('0'))
        .arg(date.Minutes, 2, 10, QLatin1Char('0'))
        .arg(date.Seconds, 2, 10, QLatin1Char('0'))
        .arg(date.IsUTC ? QStringLiteral("Z") : QString());
}

// A marker to be written at a place in the text.
struct Marker
{
    Reference<css::text::XTextRange> at;
    QString text;
};

} // namespace

Revisions MarkDocumentRevisions(const Reference<css::lang::XComponent>& document)
{
    Revisions revisions;
    std::vector<Marker> markers; // the changes'
    std::vector<Marker> commentMarkers;
    const Reference<css::document::XRedlinesSupplier> redlines(document, UNO_QUERY);
    if (redlines.is()) {
        const Reference<css::container::XEnumeration> each =
            redlines->getRedlines()->createEnumeration();
        while (each->hasMoreElements()) {
            const Reference<css::beans::XPropertySet> redline(each->nextElement(), UNO_QUERY);
            if (!redline.is())
                continue;
            const OUString type = read<OUString>(redline, "RedlineType");
            if (type != "Insert" && type != "Delete")
                continue;
            auto start = read<Reference<css::text::XTextRange>>(redline, "RedlineStart");
            auto end = read<Reference<css::text::XTextRange>>(redline, "RedlineEnd");
            if (!start.is() || !end.is())
                continue;
            // The two ends come in the order the change was made in: a change written from its
            // end backwards (as the .doc reader makes them) starts at its "end".
            const Reference<css::text::XTextRangeCompare> order(start->getText(), UNO_QUERY);
            try {
                if (order.is() && order->compareRegionStarts(start, end) < 0)
                    std::swap(start, end);
            } catch (const css::lang::IllegalArgumentException&) {
                // (Ends in texts of their own: taken as they come.)
            }
            const int number = int(revisions.changes.size());
            revisions.changes.append(
                {type == "Insert", toQ(read<OUString>(redline, "RedlineAuthor")),
                 dateOf(read<css::util::DateTime>(redline, "RedlineDateTime"))});
            markers.push_back({end, ChangeEndMarker(number)});
            markers.push_back({start, ChangeStartMarker(number)});
        }
    }

    std::vector<Reference<css::text::XTextContent>> comments;
    QHash<QString, int> byName;
    QList<QString> parents;
    const Reference<css::text::XTextFieldsSupplier> fields(document, UNO_QUERY);
    if (fields.is()) {
        const Reference<css::container::XEnumeration> each =
            fields->getTextFields()->createEnumeration();
        while (each->hasMoreElements()) {
            const Reference<css::lang::XServiceInfo> info(each->nextElement(), UNO_QUERY);
            if (!info.is() || !info->supportsService("com.sun.star.text.textfield.Annotation"))
                continue;
            const Reference<css::text::XTextContent> comment(info, UNO_QUERY);
            const Reference<css::beans::XPropertySet> properties(info, UNO_QUERY);
            if (!comment.is() || !properties.is() || !comment->getAnchor().is())
                continue;
            const int number = int(revisions.comments.size());
            PageComment shown;
            shown.author = toQ(read<OUString>(properties, "Author"));
            shown.initials = toQ(read<OUString>(properties, "Initials"));
            shown.date = dateOf(read<css::util::DateTime>(properties, "DateTimeValue"));
            shown.text = toQ(read<OUString>(properties, "Content"))
                             .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                             .replace(u'\r', u'\n');
            revisions.comments.append(shown);
            byName.insert(toQ(read<OUString>(properties, "Name")), number);
            parents.append(toQ(read<OUString>(properties, "ParentName")));
            commentMarkers.push_back({comment->getAnchor()->getEnd(), CommentMarker(number)});
            comments.push_back(comment);
        }
    }
    for (qsizetype k = 0; k < parents.size(); ++k) {
        if (!parents[k].isEmpty())
            revisions.comments[k].answers = byName.value(parents[k], -1);
    }
    if (revisions.isEmpty())
        return revisions;

    // Recording would make the markers changes of their own.
    const Reference<css::beans::XPropertySet> settings(document, UNO_QUERY);
    if (settings.is() && settings->getPropertySetInfo()->hasPropertyByName("RecordChanges"))
        settings->setPropertyValue("RecordChanges", Any(false));
    // Markers written at one place stand in the reverse order of their writing: the
    // comments' are written last to first, so that those at one place (a reply beside the
    // comment it answers) keep the document's order.
    markers.insert(markers.end(), commentMarkers.rbegin(), commentMarkers.rend());
    for (const Marker& marker : markers)
        marker.at->getText()->insertString(marker.at, toOU(marker.text), false);
    for (const auto& comment : comments)
        comment->getAnchor()->getText()->removeTextContent(comment);
    return revisions;
}

} // namespace docuflume::office
