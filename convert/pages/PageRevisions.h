#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace docuflume {

// What a document holds beside its current text, as its page shows it: the changes a
// reviewer tracked and the comments people made. The office writes the page with markers
// of ours in the text where each change begins and ends and where each comment stands;
// MarkPageRevisions turns them into marked text.
struct TrackedChange
{
    bool inserted = true; // or deleted
    QString author;       // empty when the document names none
    QString date;         // as a datetime attribute gives it; empty when unknown
};

struct PageComment
{
    QString author;
    QString initials; // empty: made from the author's name
    QString date;
    QString text;     // its paragraphs, one per line
    int answers = -1; // the comment it replies to, by its place in the list
};

struct Revisions
{
    QList<TrackedChange> changes;
    QList<PageComment> comments;
    bool isEmpty() const { return changes.isEmpty() && comments.isEmpty(); }
};

// The markers, by the change's or the comment's place in its list. They are made of
// characters of Unicode's private use area around digits, which no document's text holds.
QString ChangeStartMarker(int change);
QString ChangeEndMarker(int change);
QString CommentMarker(int comment);

// The page with its markers made into what a reader sees: the text of each change inside
// <ins> or <del> (with the author as cite="mailto:..." and the date as datetime), in each
// block and element the change runs through, so that no element is left open across
// another; each comment a mark such as [AB1] where it stands, linked both ways with its
// text in a list at the end of the page (replies after the comment they answer). Nothing
// when the page holds no marker or cannot be read whole.
std::optional<QByteArray> MarkPageRevisions(const QByteArray& page, const Revisions& revisions);

} // namespace docuflume
