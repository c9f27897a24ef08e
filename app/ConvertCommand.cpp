// The conversion without a window (docuflume --convert): for archives, scripts and
// schedulers, through the same engine, names, checks and staged saves as the window's run.

#include "app/ConvertCommand.h"

#include "convert/ExportDocument.h"
#include "convert/PageNames.h"
#include "convert/WordInstance.h"
#include "doclist/FolderListings.h"
#include "doclist/FolderWalk.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"
#include "shell/PathHelpers.h"
#include "shell/Prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

#include <algorithm>

namespace docuflume {
namespace {

const QString kTitle = QStringLiteral("Docuflume");

// What would be a box in the window is said on standard error here, and nothing is asked.
class SayingPrompts final : public Prompts
{
public:
    explicit SayingPrompts(std::function<void(const QString&)> say) : m_say(std::move(say)) {}
    MessageAnswer message(QWidget*, const MessageRequest& request) override
    {
        m_say(QString(request.text)
                  .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                  .replace(u'\r', u'\n'));
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    QString input(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QStringList openFiles(QWidget*, const OpenFilesRequest&) override { return {}; }
    QString pickFolder(QWidget*, const QString&, const QString&) override { return {}; }
    bool openWithDesktop(const QUrl&) override { return false; }

private:
    std::function<void(const QString&)> m_say;
};

// Every Word file in a folder's tree, as the folder scan finds files: level by level,
// Office's own "~" files left out.
QStringList documentsIn(const QString& folder, Prompts& prompts)
{
    QStringList folders = {folder + kSeparator};
    GetSubDirectories2016(prompts, nullptr, folders, true);
    // A big tree's listings are read ahead while the names are taken.
    FolderListings listings(folders, QStringLiteral("*.*"));
    QStringList found;
    for (qsizetype index = 0; index < folders.size(); ++index) {
        const QString path = folders[index].chopped(1);
        for (const QString& name : listings.take(index)) {
            if (!name.startsWith(u'~') && IsWordDocumentName(name))
                found << CollapseDoubleBackslashes(path + kSeparator + name);
        }
    }
    return found;
}

QString failureClass(Failure::Cause cause)
{
    switch (cause) {
    case Failure::Cause::NeedsPassword:
        return QStringLiteral("password");
    case Failure::Cause::Damaged:
        return QStringLiteral("damaged");
    case Failure::Cause::NotWordDocument:
        return QStringLiteral("not-word");
    case Failure::Cause::TimeLimit:
        return QStringLiteral("time-limit");
    case Failure::Cause::LostText:
        return QStringLiteral("lost-text");
    case Failure::Cause::OfficeStopped:
        return QStringLiteral("office-stopped");
    case Failure::Cause::Other:
        break;
    }
    return QStringLiteral("other");
}

struct Row
{
    QString source;
    QString page;
    bool converted = false;
    QString failureClass;
    QString failure;
    double seconds = 0;
    std::optional<qsizetype> words;
};

// One field as RFC 4180 writes it: quoted when it holds a comma, a quote or a line end.
QByteArray csvField(const QString& text)
{
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') ||
        field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

QByteArray csvLine(const QStringList& fields)
{
    QByteArrayList line;
    for (const QString& field : fields)
        line << csvField(field);
    return line.join(',') + "\r\n";
}

const QStringList kReportHeader = {QStringLiteral("source"),  QStringLiteral("page"),
                                   QStringLiteral("status"),  QStringLiteral("class"),
                                   QStringLiteral("failure"), QStringLiteral("seconds"),
                                   QStringLiteral("words")};

// The report: each row appended as it is known, so that a run killed on the way leaves a
// valid report of what it finished; replaced whole, in one step, at the end.
class Report
{
public:
    explicit Report(QString path) : m_path(std::move(path)), m_file(m_path) {}

    bool open()
    {
        if (m_path.isEmpty())
            return true;
        m_lines = csvLine(kReportHeader);
        return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate) && append(m_lines);
    }

    void add(const Row& row)
    {
        if (m_path.isEmpty())
            return;
        const QByteArray line =
            csvLine({row.source, row.page,
                     row.converted ? QStringLiteral("converted") : QStringLiteral("failed"),
                     row.failureClass, row.failure, QString::number(row.seconds, 'f', 2),
                     row.words ? QString::number(*row.words) : QString()});
        m_lines += line;
        append(line);
    }

    bool finish()
    {
        if (m_path.isEmpty())
            return true;
        m_file.close();
        QSaveFile whole(m_path);
        return whole.open(QIODevice::WriteOnly) && whole.write(m_lines) == m_lines.size() &&
               whole.commit();
    }

private:
    // (One write a line, so that a kill never leaves half of one.)
    bool append(const QByteArray& line)
    {
        return m_file.write(line) == line.size() && m_file.flush();
    }

    QString m_path;
    QFile m_file;
    QByteArray m_lines;
};

// Progress on standard error: a line per document, or one bar redrawn in place on a terminal,
// with the failures printed above it.
class Progress
{
public:
    Progress(QIODevice& out, bool terminal) : m_out(out), m_terminal(terminal) {}

    void say(const QString& text)
    {
        line(text);
        drawBar();
    }

    void starting(qsizetype index, qsizetype total, const QString& source)
    {
        m_index = index;
        m_total = total;
        m_name = GetFileName(source);
        drawBar();
    }

    void finished(const Row& row)
    {
        const QString counted = QStringLiteral("[%1/%2] ").arg(m_index + 1).arg(m_total);
        if (!row.converted)
            line(counted + m_name + QStringLiteral(": failed: ") + row.failure);
        else if (!m_terminal)
            line(counted + m_name +
                 QStringLiteral(": converted in %1 s").arg(row.seconds, 0, 'f', 1));
        ++m_index;
        drawBar();
    }

    void end(const QString& summary)
    {
        clearBar();
        m_total = 0;
        write(summary + u'\n');
    }

private:
    // A line of its own, where the bar was; the bar comes back below it.
    void line(const QString& text)
    {
        clearBar();
        write(text + u'\n');
    }

    void drawBar()
    {
        if (!m_terminal || m_total <= 0)
            return;
        constexpr int kWidth = 30;
        const int done = int(kWidth * m_index / m_total);
        m_bar = QStringLiteral("[%1%2] %3/%4 %5")
                    .arg(QString(done, u'#'), QString(kWidth - done, u'-'))
                    .arg(m_index)
                    .arg(m_total)
                    .arg(m_name.left(40));
        write(QStringLiteral("\r") + m_bar);
    }

    void clearBar()
    {
        if (m_terminal && !m_bar.isEmpty())
            write(QStringLiteral("\r\x1b[K"));
        m_bar.clear();
    }

    void write(const QString& text)
    {
        m_out.write(text.toLocal8Bit());
        if (auto* file = qobject_cast<QFile*>(&m_out))
            file->flush();
    }

    QIODevice& m_out;
    const bool m_terminal;
    qsizetype m_index = 0;
    qsizetype m_total = 0;
    QString m_name;
    QString m_bar;
};

struct PlannedDocument
{
    QString source;
    QString page;
};

// Tells the engine which documents come next, as the window's run does.
void planAhead(WordAutomation* word, const QList<PlannedDocument>& documents, qsizetype from,
               int fileFormat)
{
    const int wanted = word ? word->aheadCapacity() : 0;
    if (wanted <= 0)
        return;
    QList<PlannedExport> next;
    for (qsizetype k = from; k < documents.size() && next.size() < wanted; ++k)
        next.append({documents[k].source, documents[k].page, fileFormat});
    word->planAhead(next);
}

// Every file given and every Word file in the folders' trees, sorted, once each, with the
// page each writes, named over the whole list as one run of the window names them; then
// only those of the request's shard.
QList<PlannedDocument> plan(const ConvertRequest& request, Prompts& prompts)
{
    QStringList sources;
    for (const QString& path : request.paths) {
        if (IsFolder(path))
            sources += documentsIn(path, prompts);
        else
            sources << path;
    }
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    // Named over the whole list, so that every shard names a namesake alike.
    PageNames names(fs::namesIgnoreCase);
    QList<PlannedDocument> planned;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QString page = names.claim(HtmlOutputPath(request.output, sources[i]));
        if (i % request.shards == request.shard)
            planned.append({sources[i], page});
    }
    return planned;
}

} // namespace

int RunConversion(const ConvertRequest& request, WordAutomation* word,
                  const PageWordCounter& pageWords, QIODevice& out, bool terminal,
                  const std::function<int()>& interrupted)
{
    Progress progress(out, terminal);
    SayingPrompts prompts([&](const QString& text) { progress.say(text); });
    if (!QDir().mkpath(request.output)) {
        progress.say(QStringLiteral("docuflume: cannot make the folder ") + request.output);
        return 1;
    }
    if (!CheckWordInstalled(word, prompts, nullptr, kTitle))
        return interrupted() ? 128 + interrupted() : 1;
    // The window asks; here the run goes on.
    if (IsWordRunning(word))
        progress.say(QStringLiteral(
            "docuflume: Word may be open. It is recommended that you close Word first."));

    const QList<PlannedDocument> documents = plan(request, prompts);
    Report report(request.report);
    if (!report.open()) {
        progress.say(QStringLiteral("docuflume: cannot write the report ") + request.report);
        return 1;
    }
    const int fileFormat = request.filtered ? HtmlFiltered : HtmlNormal;
    qsizetype converted = 0;
    qsizetype failed = 0;
    {
        BatchScope batch(word);
        for (qsizetype i = 0; i < documents.size() && !interrupted(); ++i) {
            const PlannedDocument& document = documents[i];
            progress.starting(i, documents.size(), document.source);
            planAhead(word, documents, i, fileFormat);
            Row row;
            row.source = document.source;
            row.page = document.page;
            QElapsedTimer clock;
            clock.start();
            try {
                ExportDocument(
                    word, [fileFormat] { return std::optional(fileFormat); }, document.source,
                    document.page);
                row.converted = true;
                if (pageWords)
                    row.words = pageWords(document.page);
            } catch (const Failure& failure) {
                row.failureClass = failureClass(failure.cause());
                row.failure = failure.description();
            } catch (const std::exception& error) {
                row.failureClass = failureClass(Failure::Cause::Other);
                row.failure = QString::fromLocal8Bit(error.what());
            }
            row.seconds = double(clock.nsecsElapsed()) / 1e9;
            // A document the signal stopped is not reported as failing of its own.
            if (!row.converted && interrupted())
                break;
            report.add(row);
            progress.finished(row);
            ++(row.converted ? converted : failed);
            // (The engine's timers: instances ended are collected.)
            QCoreApplication::processEvents();
            if (word && word->batchStopped())
                break;
        }
    }
    const bool reported = report.finish();
    if (!reported)
        progress.say(QStringLiteral("docuflume: cannot write the report ") + request.report);
    progress.end(QStringLiteral("%1 converted, %2 failed, %3 not converted")
                     .arg(converted)
                     .arg(failed)
                     .arg(documents.size() - converted - failed));
    if (const int signal = interrupted())
        return 128 + signal;
    return failed > 0 || !reported || converted < documents.size() ? 1 : 0;
}

} // namespace docuflume
