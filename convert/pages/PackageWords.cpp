#include "convert/pages/PackageWords.h"

#include "convert/pages/HtmlPage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringDecoder>
#include <QUrl>

#include <libxml/xmlreader.h>
#include <zip.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace docuflume {
namespace {

// No document's text comes near these; a package past them (a zip bomb, a part that is not
// text) is not counted at all.
constexpr qint64 kPartLimit = qint64(64) << 20;     // bytes of one part, uncompressed
constexpr qint64 kPackageLimit = qint64(256) << 20; // of every part read, nested ones too
constexpr int kPartsLimit = 2000;                   // parts read
constexpr qint64 kEntriesLimit = 20000;             // entries of every package opened
constexpr int kNestingLimit = 2;                    // packages included in packages

constexpr int kXmlOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

const char* const kWordNamespaces[] = {
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main",
    "http://purl.oclc.org/ooxml/wordprocessingml/main", // strict
};
const char* const kCompatibilityNamespace =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";

// The relationships whose targets hold text a page shows (by the last segment of their type,
// the same in the transitional and the strict namespaces): comments among them, which the
// page lists at its end. Headers and footers count only where a section names them.
const char* const kNoteParts[] = {"footnotes", "endnotes", "comments"};
const char* const kRelationshipNamespaces[] = {
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "http://purl.oclc.org/ooxml/officeDocument/relationships", // strict
};

const char* const kPackageTypes[] = {
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
    "application/vnd.openxmlformats-officedocument.wordprocessingml.template",
    "application/vnd.ms-word.document.macroenabled.12",
    "application/vnd.ms-word.template.macroenabled.12",
};

struct Budget
{
    qint64 bytes = kPackageLimit;
    int parts = kPartsLimit;
    qint64 entries = kEntriesLimit;
};

quint64 little(const char* at, int bytes)
{
    quint64 value = 0;
    for (int k = bytes - 1; k >= 0; --k)
        value = value << 8 | uchar(at[k]);
    return value;
}

// Reads `length` bytes at `offset` of an archive; fewer where it ends.
using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

// The most entries any end record in the archive's tail claims for its central directory,
// ZIP64's included, read before the archive is opened: opening reads every entry, and a
// crafted package holds hundreds of thousands. (The archive's reader decides which record
// is the real one; this takes the largest, so that no choice of it escapes the limit.)
quint64 claimedEntries(qint64 size, const ReadAt& readAt)
{
    constexpr qint64 kRecord = 22;      // an end record without its comment
    constexpr qint64 kComment = 65535;  // the longest comment that may follow it
    constexpr qint64 kLocator = 20;     // the ZIP64 locator, just before the end record
    constexpr qint64 kZip64Record = 56; // the ZIP64 end record, without extensions
    const qint64 tailStart = std::max<qint64>(0, size - kRecord - kComment);
    const QByteArray tail = readAt(tailStart, size - tailStart);
    quint64 most = 0;
    for (qsizetype end = tail.size() - kRecord; end >= 0; --end) {
        const char* record = tail.constData() + end;
        if (little(record, 4) != 0x06054b50)
            continue;
        quint64 entries = little(record + 10, 2);
        // ZIP64 marks its counts with all ones and keeps them in a record of its own.
        if (entries == 0xffff) {
            const QByteArray locator = readAt(tailStart + end - kLocator, kLocator);
            const QByteArray zip64 =
                locator.size() == kLocator && little(locator.constData(), 4) == 0x07064b50
                    ? readAt(qint64(little(locator.constData() + 8, 8) & 0x7fffffffffffffff),
                             kZip64Record)
                    : QByteArray();
            if (zip64.size() == kZip64Record && little(zip64.constData(), 4) == 0x06064b50)
                entries = std::max(entries, little(zip64.constData() + 32, 8));
        }
        most = std::max(most, entries);
    }
    return most;
}

// Takes an archive's entries from the budget before it is opened.
bool withinEntries(Budget& budget, qint64 size, const ReadAt& readAt)
{
    const quint64 claimed = claimedEntries(size, readAt);
    if (claimed > quint64(budget.entries))
        return false;
    budget.entries -= qint64(claimed);
    return true;
}

struct ArchiveClose
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct FileClose
{
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
struct ReaderFree
{
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
using Archive = std::unique_ptr<zip_t, ArchiveClose>;
using ZipFile = std::unique_ptr<zip_file_t, FileClose>;
using Reader = std::unique_ptr<xmlTextReader, ReaderFree>;

// One part being read, within the limits of the part and of the whole package.
struct PartStream
{
    zip_file_t* file;
    Budget& budget;
    qint64 left = kPartLimit;
    bool failed = false;

    int read(char* buffer, int length)
    {
        const zip_int64_t got = zip_fread(file, buffer, zip_uint64_t(length));
        if (got < 0 || got > left || got > budget.bytes) {
            failed = true;
            return -1;
        }
        left -= got;
        budget.bytes -= got;
        return int(got);
    }
};

int readStream(void* context, char* buffer, int length)
{
    return static_cast<PartStream*>(context)->read(buffer, length);
}

QString text(const xmlChar* value)
{
    return value ? QString::fromUtf8(reinterpret_cast<const char*>(value)) : QString();
}

bool isName(xmlTextReader* reader, const char* ns, const char* name)
{
    return xmlStrEqual(xmlTextReaderConstNamespaceUri(reader), BAD_CAST ns) &&
           xmlStrEqual(xmlTextReaderConstLocalName(reader), BAD_CAST name);
}

bool isWord(xmlTextReader* reader)
{
    const xmlChar* ns = xmlTextReaderConstNamespaceUri(reader);
    for (const char* word : kWordNamespaces) {
        if (xmlStrEqual(ns, BAD_CAST word))
            return true;
    }
    return false;
}

QString attribute(xmlTextReader* reader, const char* name)
{
    xmlChar* value = xmlTextReaderGetAttribute(reader, BAD_CAST name);
    QString result = text(value);
    xmlFree(value);
    return result;
}

// A property such as <w:vanish/> is on unless its value says off.
bool switchedOn(xmlTextReader* reader)
{
    xmlChar* value = nullptr;
    for (const char* ns : kWordNamespaces) {
        if (!value)
            value = xmlTextReaderGetAttributeNs(reader, BAD_CAST "val", BAD_CAST ns);
    }
    const QString val = text(value).toLower();
    xmlFree(value);
    return val != QLatin1String("0") && val != QLatin1String("false") &&
           val != QLatin1String("off");
}

struct Relationship
{
    QString id;
    QString type; // the last segment of its type
    QString target;
};

class Package
{
public:
    Package(Archive archive, Budget& budget, int nesting, QByteArray bytes = {})
        : m_bytes(std::move(bytes)), m_archive(std::move(archive)), m_budget(budget),
          m_nesting(nesting)
    {}

    std::optional<qsizetype> words();

private:
    zip_int64_t locate(const QString& name);
    ZipFile openPart(const QString& part);
    std::optional<QByteArray> readPart(const QString& part);
    // Reads an XML part with `visit` called at each node; false when it cannot be read whole.
    bool readXml(const QString& part, const std::function<bool(xmlTextReader*)>& visit);
    bool readContentTypes();
    QString contentType(const QString& part) const;
    std::optional<QList<Relationship>> relationships(const QString& part);
    // The words of a part's text; `named`, when given, gathers the ids of the headers and
    // footers its sections name.
    std::optional<qsizetype> textWords(const QString& part, QSet<QString>* named = nullptr);
    std::optional<qsizetype> chunkWords(const QString& part);

    const QByteArray m_bytes; // a nested package's own bytes, which the archive reads
    Archive m_archive;
    Budget& m_budget;
    const int m_nesting;
    QHash<QString, QString> m_defaults;                    // content types by extension, lower case
    QHash<QString, QString> m_overrides;                   // and by part name, lower case
    std::optional<QHash<QString, zip_uint64_t>> m_entries; // by name, lower case, once needed
};

zip_int64_t Package::locate(const QString& name)
{
    // The name as it stands first, through the archive's own index.
    const zip_int64_t index = zip_name_locate(m_archive.get(), name.toUtf8().constData(), 0);
    if (index >= 0)
        return index;
    // Part names are case-insensitive: an index of our own for the rest, made once.
    if (!m_entries) {
        m_entries.emplace();
        const zip_int64_t count = zip_get_num_entries(m_archive.get(), 0);
        for (zip_int64_t k = count - 1; k >= 0; --k) { // the first of equal names wins
            if (const char* entry = zip_get_name(m_archive.get(), zip_uint64_t(k), 0))
                m_entries->insert(QString::fromUtf8(entry).toLower(), zip_uint64_t(k));
        }
    }
    const auto found = m_entries->constFind(name.toLower());
    return found == m_entries->constEnd() ? -1 : zip_int64_t(*found);
}

ZipFile Package::openPart(const QString& part)
{
    if (--m_budget.parts < 0)
        return nullptr;
    // Part names are case-insensitive; the zip holds them without the leading slash, with
    // the percent-encoding of their URIs undone.
    const QString name = part.mid(1);
    zip_int64_t index = locate(name);
    if (index < 0)
        index = locate(QUrl::fromPercentEncoding(name.toUtf8()));
    if (index < 0)
        return nullptr;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(m_archive.get(), zip_uint64_t(index), 0, &stat) != 0 ||
        ((stat.valid & ZIP_STAT_SIZE) && stat.size > zip_uint64_t(kPartLimit)))
        return nullptr;
    return ZipFile(zip_fopen_index(m_archive.get(), zip_uint64_t(index), 0));
}

std::optional<QByteArray> Package::readPart(const QString& part)
{
    const ZipFile file = openPart(part);
    if (!file)
        return std::nullopt;
    PartStream stream{file.get(), m_budget};
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const int got = stream.read(buffer, int(sizeof buffer));
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return bytes;
        bytes.append(buffer, got);
    }
}

bool Package::readXml(const QString& part, const std::function<bool(xmlTextReader*)>& visit)
{
    const ZipFile file = openPart(part);
    if (!file)
        return false;
    PartStream stream{file.get(), m_budget};
    const Reader reader(
        xmlReaderForIO(readStream, nullptr, &stream, nullptr, nullptr, kXmlOptions));
    if (!reader)
        return false;
    int status = xmlTextReaderRead(reader.get());
    while (status == 1) {
        // What older readers are given instead of the choice before it repeats its text.
        if (xmlTextReaderNodeType(reader.get()) == XML_READER_TYPE_ELEMENT &&
            isName(reader.get(), kCompatibilityNamespace, "Fallback")) {
            status = xmlTextReaderNext(reader.get());
            continue;
        }
        if (!visit(reader.get()))
            return false;
        status = xmlTextReaderRead(reader.get());
    }
    return status == 0 && !stream.failed;
}

bool Package::readContentTypes()
{
    return readXml(QStringLiteral("/[Content_Types].xml"), [this](xmlTextReader* reader) {
        if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT)
            return true;
        const QString type = attribute(reader, "ContentType").toLower();
        const xmlChar* name = xmlTextReaderConstLocalName(reader);
        if (xmlStrEqual(name, BAD_CAST "Default"))
            m_defaults.insert(attribute(reader, "Extension").toLower(), type);
        else if (xmlStrEqual(name, BAD_CAST "Override"))
            m_overrides.insert(attribute(reader, "PartName").toLower(), type);
        return true;
    });
}

QString Package::contentType(const QString& part) const
{
    const auto found = m_overrides.constFind(part.toLower());
    if (found != m_overrides.cend())
        return *found;
    return m_defaults.value(QFileInfo(part).suffix().toLower());
}

// The part a relationship of `source` names, as an absolute part name.
QString resolveTarget(const QString& source, const QString& target)
{
    const QString path =
        target.startsWith(u'/') ? target : source.left(source.lastIndexOf(u'/') + 1) + target;
    const QString clean = QDir::cleanPath(path);
    return clean.startsWith(u'/') ? clean : u'/' + clean;
}

std::optional<QList<Relationship>> Package::relationships(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(u'/');
    const QString rels = part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) +
                         QStringLiteral(".rels");
    QList<Relationship> found;
    const bool read = readXml(rels, [&](xmlTextReader* reader) {
        if (xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT &&
            xmlStrEqual(xmlTextReaderConstLocalName(reader), BAD_CAST "Relationship") &&
            attribute(reader, "TargetMode")
                    .compare(QLatin1String("External"), Qt::CaseInsensitive) != 0) {
            const QString type = attribute(reader, "Type");
            found.append({attribute(reader, "Id"), type.mid(type.lastIndexOf(u'/') + 1),
                          resolveTarget(part, attribute(reader, "Target"))});
        }
        return true;
    });
    if (!read)
        return std::nullopt;
    return found;
}

std::optional<qsizetype> Package::textWords(const QString& part, QSet<QString>* named)
{
    qsizetype words = 0;
    QString line;               // the text since the last break
    QList<QByteArray> elements; // those open, by name when of WordprocessingML
    bool inText = false;        // within a w:t
    bool hidden = false;        // the run is hidden text
    const auto endLine = [&] {
        words += CountWords(line);
        line.clear();
    };
    const bool read = readXml(part, [&](xmlTextReader* reader) {
        switch (xmlTextReaderNodeType(reader)) {
        case XML_READER_TYPE_ELEMENT: {
            const QByteArray name =
                isWord(reader)
                    ? QByteArray(reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader)))
                    : QByteArray();
            if (name == "p") {
                endLine();
            } else if (name == "r") {
                hidden = false;
            } else if (name == "tab" || name == "br" || name == "cr") {
                line += u' ';
            } else if (named && (name == "headerReference" || name == "footerReference")) {
                for (const char* ns : kRelationshipNamespaces) {
                    xmlChar* id = xmlTextReaderGetAttributeNs(reader, BAD_CAST "id", BAD_CAST ns);
                    if (id)
                        named->insert(text(id));
                    xmlFree(id);
                }
            } else if ((name == "vanish" || name == "specVanish") && elements.size() >= 2 &&
                       elements.last() == "rPr" && elements[elements.size() - 2] == "r") {
                hidden = switchedOn(reader);
            }
            if (!xmlTextReaderIsEmptyElement(reader)) {
                elements.append(name);
                inText = name == "t";
            }
            break;
        }
        case XML_READER_TYPE_END_ELEMENT:
            if (!elements.isEmpty()) {
                if (elements.last() == "p")
                    endLine();
                elements.removeLast();
            }
            inText = false;
            break;
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
            if (inText && !hidden)
                line += text(xmlTextReaderConstValue(reader));
            break;
        default:
            break;
        }
        return true;
    });
    endLine();
    if (!read)
        return std::nullopt;
    return words;
}

// The words of a chunk the document includes in a format of its own: a chunk in a format
// not read here counts none.
std::optional<qsizetype> Package::chunkWords(const QString& part)
{
    QString type = contentType(part);
    type = type.left(type.indexOf(u';')).trimmed();
    const bool html =
        type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml");
    const bool plain = type == QLatin1String("text/plain");
    const bool package =
        std::any_of(std::begin(kPackageTypes), std::end(kPackageTypes),
                    [&](const char* packageType) { return type == QLatin1String(packageType); });
    if (!html && !plain && !package)
        return 0;
    if (package && m_nesting >= kNestingLimit)
        return std::nullopt;
    std::optional<QByteArray> bytes = readPart(part);
    if (!bytes)
        return std::nullopt;
    if (html)
        return CountWords(ReadHtmlPage(*bytes).visibleText);
    if (plain) {
        QStringDecoder decoder(
            QStringConverter::encodingForData(*bytes).value_or(QStringConverter::Utf8));
        return CountWords(QString(decoder.decode(*bytes)));
    }
    // The nested package keeps its bytes for as long as its archive reads them.
    QByteArray held = std::move(*bytes);
    if (!withinEntries(m_budget, held.size(), [&held](qint64 offset, qint64 length) {
            return offset < 0 ? QByteArray() : held.mid(offset, length);
        }))
        return std::nullopt;
    zip_source_t* source =
        zip_source_buffer_create(held.constData(), zip_uint64_t(held.size()), 0, nullptr);
    if (!source)
        return std::nullopt;
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, nullptr);
    if (!archive) {
        zip_source_free(source);
        return std::nullopt;
    }
    Package nested(Archive(archive), m_budget, m_nesting + 1, std::move(held));
    return nested.words();
}

std::optional<qsizetype> Package::words()
{
    if (!readContentTypes())
        return std::nullopt;
    const auto packageRelationships = relationships(QStringLiteral("/"));
    if (!packageRelationships)
        return std::nullopt;
    QString main;
    for (const Relationship& relationship : *packageRelationships) {
        if (relationship.type == QLatin1String("officeDocument"))
            main = relationship.target;
    }
    const QString mainType = contentType(main);
    if (main.isEmpty() || !mainType.endsWith(QLatin1String("main+xml")) ||
        !(mainType.contains(QLatin1String("wordprocessingml")) ||
          mainType.contains(QLatin1String("ms-word"))))
        return std::nullopt;

    QSet<QString> named;
    const std::optional<qsizetype> body = textWords(main, &named);
    if (!body)
        return std::nullopt;
    qsizetype total = *body;
    // A page shows one header and one footer, whichever its first section names: the
    // largest of each that a section names is what it can show at most.
    qsizetype header = 0, footer = 0;
    // A main part without relationships has nothing beside it.
    const auto parts = relationships(main).value_or(QList<Relationship>());
    QStringList seen{main.toLower()};
    for (const Relationship& relationship : parts) {
        if (seen.contains(relationship.target.toLower()))
            continue;
        const bool note =
            std::any_of(std::begin(kNoteParts), std::end(kNoteParts),
                        [&](const char* kind) { return relationship.type == QLatin1String(kind); });
        const bool margin = (relationship.type == QLatin1String("header") ||
                             relationship.type == QLatin1String("footer")) &&
                            named.contains(relationship.id);
        const bool chunk = relationship.type == QLatin1String("aFChunk");
        if (!note && !margin && !chunk)
            continue;
        seen << relationship.target.toLower();
        const std::optional<qsizetype> words =
            chunk ? chunkWords(relationship.target) : textWords(relationship.target);
        if (!words)
            return std::nullopt;
        if (margin) {
            qsizetype& largest = relationship.type == QLatin1String("header") ? header : footer;
            largest = std::max(largest, *words);
        } else {
            total += *words;
        }
    }
    return total + header + footer;
}

} // namespace

bool IsWordPackageName(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("docx") || suffix == QLatin1String("docm") ||
           suffix == QLatin1String("dotx") || suffix == QLatin1String("dotm");
}

std::optional<qsizetype> WordPackageWords(const QString& path)
{
    InitialiseXmlParser();
    Budget budget;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) ||
        !withinEntries(budget, file.size(), [&file](qint64 offset, qint64 length) {
            return offset >= 0 && file.seek(offset) ? file.read(length) : QByteArray();
        }))
        return std::nullopt;
    int error = 0;
    Archive archive(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error));
    if (!archive)
        return std::nullopt;
    return Package(std::move(archive), budget, 0).words();
}

} // namespace docuflume
