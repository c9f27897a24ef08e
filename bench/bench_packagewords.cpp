// What counting a package's words costs on crafted packages: the processor time of one
// count, on this thread, for packages made here to make it slow.
//
//     bench_packagewords

#include "convert/pages/PackageWords.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <zip.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <utility>

namespace {

using namespace docuflume;

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

const QByteArray kRelations =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// A .docx whose main part names `links` pieces of HTML (which a count reads), stored in
// upper case where `shouting` (part names are case-insensitive), beside `entries` empty
// entries, and the packages `inside` as pieces of its own.
QByteArray package(int entries, int links, bool shouting, const QList<QByteArray>& inside = {})
{
    QByteArray relations = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                           "xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                           "relationships\">";
    for (int k = 0; k < links; ++k)
        relations += "<Relationship Id=\"c" + QByteArray::number(k) + "\" Type=\"" + kRelations +
                     "aFChunk\" Target=\"chunk" + QByteArray::number(k) + ".htm\"/>";
    for (qsizetype k = 0; k < inside.size(); ++k)
        relations += "<Relationship Id=\"p" + QByteArray::number(k) + "\" Type=\"" + kRelations +
                     "aFChunk\" Target=\"inner" + QByteArray::number(k) + ".docx\"/>";
    relations += "</Relationships>";
    QList<std::pair<QByteArray, QByteArray>> parts = {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas."
         "openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default "
         "Extension=\"htm\" ContentType=\"text/html\"/><Default Extension=\"docx\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml."
         "document\"/><Override PartName=\"/word/document.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml."
         "document.main+xml\"/></Types>"},
        {"_rels/.rels", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                        "<Relationship Id=\"main\" Type=\"" +
                            kRelations +
                            "officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {"word/_rels/document.xml.rels", relations},
        {"word/document.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document xmlns:w=\"http://schemas."
         "openxmlformats.org/wordprocessingml/2006/main\"><w:body><w:p><w:r><w:t>Body</w:t>"
         "</w:r></w:p></w:body></w:document>"}};
    for (int k = 0; k < links; ++k) {
        const QByteArray name = "word/chunk" + QByteArray::number(k) + ".htm";
        parts.append({shouting ? name.toUpper() : name, "<p>chunk</p>"});
    }
    for (qsizetype k = 0; k < inside.size(); ++k)
        parts.append({"word/inner" + QByteArray::number(k) + ".docx", inside[k]});
    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("made.docx")));
    int error = 0;
    zip_t* zip = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& [name, bytes] : parts)
        zip_file_add(zip, name.constData(),
                     zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0),
                     ZIP_FL_ENC_UTF_8);
    for (int k = 0; k < entries; ++k) {
        const QByteArray name = "word/media/entry" + QByteArray::number(k);
        const zip_int64_t index =
            zip_file_add(zip, name.constData(), zip_source_buffer(zip, nullptr, 0, 0), 0);
        zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    zip_close(zip);
    QFile made(QString::fromLocal8Bit(path));
    return made.open(QIODevice::ReadOnly) ? made.readAll() : QByteArray();
}

} // namespace

int main()
{
    QTemporaryDir work;
    std::printf("processor seconds of one count (the words found, or none)\n");
    struct Crafted
    {
        int entries;
        int links;
        bool shouting;
        int inside; // packages of 100,000 entries inside it
    };
    const QByteArray inner = package(100'000, 0, false);
    for (const Crafted& crafted :
         {Crafted{300'000, 2'000, true, 0}, Crafted{18'000, 1'990, true, 0},
          Crafted{18'000, 1'990, false, 0}, Crafted{100, 1'990, true, 0},
          Crafted{0, 0, false, 5}}) {
        const QString path = work.filePath(QStringLiteral("crafted.docx"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(package(crafted.entries, crafted.links, crafted.shouting,
                               QList<QByteArray>(crafted.inside, inner))) < 0)
            return 1;
        file.close();
        const double before = threadSeconds();
        const std::optional<qsizetype> words = WordPackageWords(path);
        const double spent = threadSeconds() - before;
        std::printf("  %7d entries, %5d parts read, named in %s case, %d packages of 100,000 "
                    "entries inside (%4.1f MB): %.3f s (%s)\n",
                    crafted.entries, crafted.links, crafted.shouting ? "another" : "the same",
                    crafted.inside, double(QFileInfo(path).size()) / 1e6, spent,
                    words ? qPrintable(QString::number(*words)) : "not counted");
    }
    return 0;
}
