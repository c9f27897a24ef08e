#include "support/BrowserCheck.h"

#include "convert/pages/HtmlPage.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace docuflume::test {
namespace {

// Loads each page in a frame of its own; once all have loaded (with their pictures), writes
// what each frame's pictures came to as JSON into the harness's own page, which the browser
// prints.
const char kHarnessScript[] = R"(
window.addEventListener('load', () => {
  const result = [];
  for (const frame of document.querySelectorAll('iframe')) {
    let doc = null;
    try { doc = frame.contentDocument; } catch (e) {}
    const entry = {page: frame.dataset.page, readable: !!doc, shown: 0, broken: []};
    if (doc) {
      for (const img of doc.images) {
        const url = new URL(img.currentSrc || img.src, doc.baseURI);
        if (['http:', 'https:', 'ftp:'].includes(url.protocol))
          continue;
        if (img.complete && img.naturalWidth > 0)
          entry.shown++;
        else
          entry.broken.push(url.href);
      }
    }
    result.push(entry);
  }
  const out = document.createElement('pre');
  out.textContent = JSON.stringify(result);
  document.body.appendChild(out);
});
)";

} // namespace

QString FindBrowser()
{
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString found = QStandardPaths::findExecutable(QLatin1String(name));
        if (!found.isEmpty())
            return found;
    }
    return {};
}

std::optional<QMap<QString, PagePictures>> PicturesInBrowser(const QStringList& pages,
                                                             QString* error)
{
    const QString browser = FindBrowser();
    if (browser.isEmpty()) {
        *error = QStringLiteral("no chromium to open the pages in");
        return std::nullopt;
    }
    QTemporaryDir work;
    QString harness = QStringLiteral("<!DOCTYPE html><html><body>\n");
    for (const QString& page : pages)
        harness += QStringLiteral("<iframe data-page=\"%1\" src=\"%2\"></iframe>\n")
                       .arg(page.toHtmlEscaped(),
                            QString::fromLatin1(
                                QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()).toEncoded())
                                .toHtmlEscaped());
    harness += QStringLiteral("<script>") + QLatin1String(kHarnessScript) +
               QStringLiteral("</script></body></html>\n");
    const QString harnessPath = work.filePath(QStringLiteral("harness.html"));
    QFile file(harnessPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(harness.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(harnessPath);
        return std::nullopt;
    }
    file.close();

    QProcess process;
    process.start(browser,
                  {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                   QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
                   QStringLiteral("--no-first-run"),
                   QStringLiteral("--disable-background-networking"),
                   QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                   QStringLiteral("--user-data-dir=") + work.filePath(QStringLiteral("profile")),
                   // Frames from file URLs may then be read by the harness beside them.
                   QStringLiteral("--allow-file-access-from-files"),
                   QStringLiteral("--virtual-time-budget=60000"), QStringLiteral("--dump-dom"),
                   QString::fromLatin1(QUrl::fromLocalFile(harnessPath).toEncoded())});
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        *error = QStringLiteral("the browser did not finish");
        return std::nullopt;
    }
    // The harness's page holds no text but what its script wrote.
    const QString written = ReadHtmlPage(process.readAllStandardOutput()).visibleText;
    const QJsonDocument json = QJsonDocument::fromJson(written.toUtf8());
    if (!json.isArray() || json.array().size() != pages.size()) {
        *error = QStringLiteral("the browser gave no verdict: %1")
                     .arg(QString::fromLocal8Bit(process.readAllStandardError()).right(2000));
        return std::nullopt;
    }
    QMap<QString, PagePictures> seen;
    for (const QJsonValue& value : json.array()) {
        const QJsonObject entry = value.toObject();
        const QString page = entry.value(QLatin1String("page")).toString();
        if (!entry.value(QLatin1String("readable")).toBool()) {
            *error = QStringLiteral("the browser could not read %1").arg(page);
            return std::nullopt;
        }
        PagePictures pictures;
        pictures.shown = entry.value(QLatin1String("shown")).toInt();
        for (const QJsonValue& url : entry.value(QLatin1String("broken")).toArray())
            pictures.broken << url.toString();
        seen.insert(page, pictures);
    }
    return seen;
}

} // namespace docuflume::test
