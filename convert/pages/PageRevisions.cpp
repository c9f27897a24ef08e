#include "convert/pages/PageRevisions.h"

#include "convert/pages/HtmlPage.h"

#include <QHash>
#include <QStringList>
#include <QUrl>

#include <libxml/tree.h>

namespace docuflume {
namespace {

constexpr char16_t kChangeStart = 0xE000;
constexpr char16_t kChangeEnd = 0xE001;
constexpr char16_t kComment = 0xE002;
constexpr char16_t kClose = 0xE003;

QString marker(char16_t kind, int number)
{
    return QChar(kind) + QString::number(number) + QChar(kClose);
}

const xmlChar* utf8(const QByteArray& bytes)
{
    return reinterpret_cast<const xmlChar*>(bytes.constData());
}

xmlNode* element(xmlDoc* doc, const char* name)
{
    return xmlNewDocNode(doc, nullptr, BAD_CAST name, nullptr);
}

void setAttribute(xmlNode* node, const char* name, const QString& value)
{
    xmlSetProp(node, BAD_CAST name, utf8(value.toUtf8()));
}

xmlNode* textNode(xmlDoc* doc, const QString& text)
{
    return xmlNewDocText(doc, utf8(text.toUtf8()));
}

bool isNamed(const xmlNode* node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && node->name &&
           xmlStrcasecmp(node->name, BAD_CAST name) == 0;
}

// The text nodes below `node`, in document order.
void collectText(xmlNode* node, QList<xmlNode*>& found)
{
    for (xmlNode* child = node; child; child = child->next) {
        if (child->type == XML_TEXT_NODE)
            found << child;
        else if (child->type == XML_ELEMENT_NODE && !isNamed(child, "script") &&
                 !isNamed(child, "style"))
            collectText(child->children, found);
    }
}

xmlNode* findBody(xmlNode* node)
{
    for (xmlNode* child = node; child; child = child->next) {
        if (isNamed(child, "body"))
            return child;
        if (child->type == XML_ELEMENT_NODE) {
            if (xmlNode* body = findBody(child->children))
                return body;
        }
    }
    return nullptr;
}

QString initialsOf(const PageComment& comment)
{
    if (!comment.initials.trimmed().isEmpty())
        return comment.initials.trimmed();
    QString initials;
    for (const QString& word : comment.author.split(u' ', Qt::SkipEmptyParts))
        initials += word.at(0).toUpper();
    return initials;
}

class Marking
{
public:
    Marking(xmlDoc* doc, const Revisions& revisions) : m_doc(doc), m_revisions(revisions) {}

    bool run()
    {
        xmlNode* body = findBody(m_doc->children);
        if (!body)
            return false;
        QList<xmlNode*> texts;
        collectText(body->children, texts);
        findMarkers(texts);
        bool changed = false;
        for (qsizetype k = 0; k < texts.size(); ++k)
            changed = markText(texts[k], k) || changed;
        if (!m_marks.isEmpty() || !m_revisions.comments.isEmpty())
            listComments(body);
        return changed || !m_revisions.comments.isEmpty();
    }

private:
    // A marker found in the text: its characters, which go, and what it does where its last
    // one stands. (The office may write a marker's characters into elements of their own,
    // as it does for characters whose script differs from their neighbours'.)
    struct Found
    {
        char16_t kind;
        int number;
    };

    static QString contentOf(const xmlNode* text)
    {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(text->content ? text->content : BAD_CAST ""));
    }

    void findMarkers(const QList<xmlNode*>& texts)
    {
        QList<std::pair<qsizetype, qsizetype>> at; // every character: its text and place
        QString all;
        m_contents.clear();
        for (qsizetype t = 0; t < texts.size(); ++t) {
            m_contents << contentOf(texts[t]);
            for (qsizetype c = 0; c < m_contents.last().size(); ++c)
                at.append({t, c});
            all += m_contents.last();
        }
        m_dropped = QList<QList<bool>>(texts.size());
        for (qsizetype t = 0; t < texts.size(); ++t)
            m_dropped[t] = QList<bool>(m_contents[t].size(), false);
        for (qsizetype k = 0; k < all.size(); ++k) {
            const char16_t c = all.at(k).unicode();
            if (c != kChangeStart && c != kChangeEnd && c != kComment)
                continue;
            const qsizetype close = all.indexOf(QChar(kClose), k + 1);
            bool isNumber = false;
            const int number = close > k + 1 && close - k <= 10
                                   ? all.sliced(k + 1, close - k - 1).toInt(&isNumber)
                                   : -1;
            const qsizetype count =
                c == kComment ? m_revisions.comments.size() : m_revisions.changes.size();
            if (!isNumber || number < 0 || number >= count)
                continue;
            for (qsizetype m = k; m <= close; ++m)
                m_dropped[at[m].first][at[m].second] = true;
            m_found.insert(at[close], Found{c, number});
            k = close;
        }
    }

    // Splits a text at the markers in it: the text within a change goes inside an element of
    // its own, so that each stays within the text's own element.
    bool markText(xmlNode* text, qsizetype index)
    {
        const QString& content = m_contents[index];
        const QList<bool>& dropped = m_dropped[index];
        if (!dropped.contains(true) && m_open.isEmpty())
            return false;
        QList<xmlNode*> pieces;
        QString run;
        const auto flush = [&] {
            if (run.isEmpty())
                return;
            // (White space alone, as between blocks, stays as it is: it shows nothing.)
            if (m_open.isEmpty() || run.trimmed().isEmpty()) {
                pieces << textNode(m_doc, run);
            } else {
                const TrackedChange& change = m_revisions.changes.at(m_open.last());
                xmlNode* marked = element(m_doc, change.inserted ? "ins" : "del");
                if (!change.author.isEmpty())
                    setAttribute(marked, "cite",
                                 QStringLiteral("mailto:") +
                                     QString::fromLatin1(QUrl::toPercentEncoding(change.author)));
                if (!change.date.isEmpty())
                    setAttribute(marked, "datetime", change.date);
                xmlAddChild(marked, textNode(m_doc, run));
                pieces << marked;
            }
            run.clear();
        };
        for (qsizetype k = 0; k < content.size(); ++k) {
            if (!dropped[k]) {
                run += content.at(k);
                continue;
            }
            const auto found = m_found.constFind({index, k});
            if (found == m_found.constEnd())
                continue;
            flush();
            if (found->kind == kChangeStart) {
                m_open.append(found->number);
            } else if (found->kind == kChangeEnd) {
                m_open.removeAll(found->number);
            } else {
                xmlNode* mark = element(m_doc, "a");
                m_marks.append({found->number, mark});
                pieces << mark;
            }
        }
        flush();
        // The pieces go where the text was. (Added beside a text node, a text is merged into
        // it: an element holds the place instead.)
        xmlNode* place = element(m_doc, "span");
        xmlReplaceNode(text, place);
        xmlFreeNode(text);
        for (xmlNode* piece : std::as_const(pieces))
            xmlAddPrevSibling(place, piece);
        xmlUnlinkNode(place);
        xmlFreeNode(place);
        return true;
    }

    // The comments in the order a reader meets their marks, each followed by its replies;
    // those whose mark went missing last.
    QList<int> commentOrder() const
    {
        const QList<PageComment>& comments = m_revisions.comments;
        QList<int> met;
        for (const auto& [number, mark] : m_marks) {
            if (!met.contains(number))
                met << number;
        }
        for (int k = 0; k < comments.size(); ++k) {
            if (!met.contains(k))
                met << k;
        }
        QList<int> order;
        const auto place = [&](int k, const auto& self) -> void {
            if (order.contains(k))
                return;
            order << k;
            for (const int reply : std::as_const(met)) {
                if (comments.at(reply).answers == k)
                    self(reply, self);
            }
        };
        for (const int k : std::as_const(met)) {
            const int answers = comments.at(k).answers;
            if (answers < 0 || answers >= comments.size() || answers == k)
                place(k, place);
        }
        for (const int k : std::as_const(met)) // replies to what is not there, or in a ring
            place(k, place);
        return order;
    }

    void listComments(xmlNode* body)
    {
        const QList<int> order = commentOrder();
        QHash<int, QString> labels;
        QHash<int, int> numbers;
        for (qsizetype k = 0; k < order.size(); ++k) {
            numbers[order[k]] = int(k + 1);
            labels[order[k]] = QStringLiteral("[%1%2]")
                                   .arg(initialsOf(m_revisions.comments.at(order[k])))
                                   .arg(k + 1);
        }
        QHash<int, int> marked;
        for (const auto& [number, mark] : std::as_const(m_marks)) {
            const QString anchor = QStringLiteral("_msoanchor_%1").arg(numbers[number]);
            if (!marked.contains(number))
                setAttribute(mark, "id", anchor);
            marked[number] += 1;
            setAttribute(mark, "class", QStringLiteral("msocomanchor"));
            setAttribute(mark, "href", QStringLiteral("#_msocom_%1").arg(numbers[number]));
            xmlAddChild(mark, textNode(m_doc, labels[number]));
        }
        xmlNode* list = element(m_doc, "div");
        setAttribute(list, "class", QStringLiteral("msocomments"));
        xmlNode* rule = element(m_doc, "hr");
        setAttribute(rule, "align", QStringLiteral("left"));
        setAttribute(rule, "size", QStringLiteral("1"));
        setAttribute(rule, "width", QStringLiteral("33%"));
        xmlAddChild(list, rule);
        for (const int k : order) {
            const PageComment& comment = m_revisions.comments.at(k);
            xmlNode* entry = element(m_doc, "div");
            setAttribute(entry, "class", QStringLiteral("msocomtxt"));
            setAttribute(entry, "id", QStringLiteral("_com_%1").arg(numbers[k]));
            if (!comment.author.isEmpty())
                setAttribute(entry, "title",
                             comment.date.isEmpty() ? comment.author
                                                    : comment.author + u' ' + comment.date);
            QStringList paragraphs = comment.text.split(u'\n');
            for (qsizetype p = 0; p < paragraphs.size(); ++p) {
                xmlNode* paragraph = element(m_doc, "p");
                if (p == 0) {
                    xmlNode* back = element(m_doc, "a");
                    setAttribute(back, "id", QStringLiteral("_msocom_%1").arg(numbers[k]));
                    if (marked.contains(k))
                        setAttribute(back, "href",
                                     QStringLiteral("#_msoanchor_%1").arg(numbers[k]));
                    xmlAddChild(back, textNode(m_doc, labels[k]));
                    xmlAddChild(paragraph, back);
                    xmlAddChild(paragraph, textNode(m_doc, QStringLiteral(" ")));
                }
                xmlAddChild(paragraph, textNode(m_doc, paragraphs[p]));
                xmlAddChild(entry, paragraph);
            }
            xmlAddChild(list, entry);
        }
        if (!order.isEmpty())
            xmlAddChild(body, list);
        else
            xmlFreeNode(list);
    }

    xmlDoc* m_doc;
    const Revisions& m_revisions;
    QStringList m_contents;                                // each text's own
    QList<QList<bool>> m_dropped;                          // the characters of markers, by text
    QHash<std::pair<qsizetype, qsizetype>, Found> m_found; // by the place of their last one
    QList<int> m_open; // the changes the text stands in at this point, innermost last
    QList<std::pair<int, xmlNode*>> m_marks; // each comment's mark, in document order
};

} // namespace

QString ChangeStartMarker(int change)
{
    return marker(kChangeStart, change);
}

QString ChangeEndMarker(int change)
{
    return marker(kChangeEnd, change);
}

QString CommentMarker(int comment)
{
    return marker(kComment, comment);
}

std::optional<QByteArray> MarkPageRevisions(const QByteArray& page, const Revisions& revisions)
{
    if (revisions.isEmpty())
        return std::nullopt;
    return RewritePage(page, [&revisions](xmlDoc* doc) { return Marking(doc, revisions).run(); });
}

} // namespace docuflume
