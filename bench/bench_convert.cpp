// Converts real documents through the LibreOffice engine, one fresh instance per document,
// and compares with LibreOffice's own command line on the same files:
//   - the engine as the Start button drives it (one batch that tells what comes next),
//     without converting ahead and with 1, 2 and 4 instances converting ahead, and with as
//     many as it chooses for this machine,
//   - the command line once per file (a fresh office for every document, as the engine
//     does), from a profile seeded as an informed user would seed it (as the engine seeds
//     its own), and
//   - the command line once for all files (one office for the whole set: the floor).
// Prints seconds per document for each set, the processor time per document (of this
// program and every office it ran), and the peak memory of the engine's run (its own and
// its instances' resident memory, summed: shared pages count once for each).
//
//     bench_convert [DOCUMENT...]   the documents given, or else two sets of the shared
//                                   corpus: its 20 smallest documents, and all of 20 KB to 2 MB
//     bench_convert --memory N      peak memory of one batch of N documents (the corpus cycled)
//     BENCH_AHEAD=K bench_convert   the engine with K converting ahead only, beside the
//                                   command line (to read its log, say)
//     bench_convert --long          generated .docx files of 50,000, 500,000 and 1,000,000
//                                   words, each converted three times by the engine (both
//                                   flavours) and by the command line (seeded): medians
//     bench_convert --network       the corpus's 20 smallest documents through the engine, its
//                                   instances without network and with it, in turn: medians
//                                   of three batches each, converting none ahead and as many
//                                   as the engine chooses
//     bench_convert --headless      the whole corpus through the program without a window
//                                   (docuflume --convert), the engine as the window's Start
//                                   drives it, and the command line: medians of three runs

#include "convert/ExportDocument.h"
#include "convert/libreoffice/LibreOfficeAutomation.h"
#include "convert/libreoffice/OfficeInstallation.h"
#include "shell/Failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

using namespace docuflume;

namespace {

int runOffice(const QString& soffice, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(soffice, arguments);
    process.waitForFinished(-1);
    return process.exitCode();
}

// The resident memory of this program and of every office below `profiles`, in bytes.
qint64 residentMemory(const QByteArray& profiles)
{
    qint64 total = 0;
    const auto rss = [](const QString& pid) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(0);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
        }
        return qint64(0);
    };
    total += rss(QString::number(::getpid()));
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (entry.isEmpty() || !entry.front().isDigit())
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().contains(profiles))
            total += rss(entry);
    }
    return total;
}

// Samples residentMemory() while it lives and keeps the highest.
class PeakMemory
{
public:
    explicit PeakMemory(const QString& profiles)
        : m_profiles(QUrl::fromLocalFile(profiles).toEncoded()), m_thread([this] {
              while (!m_stop) {
                  m_peak = std::max<qint64>(m_peak, residentMemory(m_profiles));
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          })
    {}
    ~PeakMemory() { stop(); }
    qint64 stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_peak;
    }

private:
    const QByteArray m_profiles;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_peak{0};
    std::thread m_thread;
};

// Processor time used so far by this program and by its children that have ended.
double cpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

struct EngineRun
{
    double perDocument = 0;
    double cpuPerDocument = 0;
    qint64 peakMemory = 0;
    int failed = 0;
    QStringList refused; // the documents that failed
};

// One batch as the Start button runs it: before each export the engine hears what comes
// next, from the document at its turn on.
EngineRun runEngine(const QStringList& documents, const QString& work, int aheadInstances,
                    bool withoutNetwork = true)
{
    LibreOfficeOptions options;
    options.profileRoot = work + QStringLiteral("/engine");
    options.aheadInstances = aheadInstances;
    options.withoutNetwork = withoutNetwork;
    const auto engine = makeLibreOfficeAutomation(options);
    const QString out = work + QStringLiteral("/engine-out");
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const auto batch = [&](const QStringList& list) {
        QStringList failed;
        engine->beginBatch();
        for (int i = 0; i < list.size(); ++i) {
            QList<PlannedExport> next;
            for (int k = i; k < list.size() && next.size() < engine->aheadCapacity(); ++k)
                next.append({list[k], HtmlOutputPath(out, list[k]), HtmlNormal});
            engine->planAhead(next);
            try {
                ExportDocument(
                    engine.get(), [] { return std::optional<int>(HtmlNormal); }, list[i],
                    HtmlOutputPath(out, list[i]));
            } catch (const Failure& failure) {
                failed << list[i];
                std::fprintf(stderr, "  %s: %s\n", qPrintable(QFileInfo(list[i]).fileName()),
                             qPrintable(failure.description()));
            }
        }
        engine->endBatch();
        return failed;
    };
    // Every profile slot the run uses has run once, so that no side pays first-run costs.
    QStringList warm;
    for (int k = 0; k < 2 * std::max(aheadInstances, 8) + 2; ++k)
        warm << documents[k % documents.size()];
    batch(warm);

    EngineRun run;
    PeakMemory peak(options.profileRoot);
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuSeconds();
    run.refused = batch(documents);
    run.failed = int(run.refused.size());
    run.cpuPerDocument = (cpuSeconds() - cpuBefore) / documents.size();
    run.perDocument = timer.nsecsElapsed() / 1e9 / documents.size();
    run.peakMemory = peak.stop();
    return run;
}

// A fresh office per document whose start-up work was done once: LibreOfficeKit in a parent
// forked for every document (bench_lokfork, built where LibreOfficeKit's headers are), beside
// the same without the parent's pre-initialisation and one LibreOfficeKit process for all.
void lokForks(const QStringList& documents, const office::Installation& installation,
              const QString& work, double floor)
{
    const QString program =
        QCoreApplication::applicationDirPath() + QStringLiteral("/bench_lokfork");
    if (!QFileInfo(program).isExecutable())
        return;
    for (const auto& [mode, label] :
         {std::pair{"single", "LibreOfficeKit, one process for all files"},
          {"fresh", "LibreOfficeKit, a fork per file, nothing before"},
          {"preinit", "LibreOfficeKit, a fork per file of a preinit parent"}}) {
        const QString profile = work + QStringLiteral("/lok-") + QLatin1String(mode);
        office::seedProfile(profile, installation);
        const QString output = work + QStringLiteral("/lok-out-") + QLatin1String(mode);
        QDir().mkpath(output);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DOCUFLUME_OFFICE_PROGRAM"), installation.programFolder);
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, QStringList{QLatin1String(mode), profile, output} + documents);
        process.waitForFinished(-1);
        const QList<QByteArray> figures = process.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 4)
            continue;
        std::printf("  %-44s %6.3f s/document  %5.2f x floor  cpu %5.3f s  %6.0f faults  (%d "
                    "failed)\n",
                    label, figures[1].toDouble(), figures[1].toDouble() / floor,
                    figures[2].toDouble(), figures[3].toDouble(),
                    int(documents.size()) - figures[0].toInt());
        QDir(profile).removeRecursively();
    }
}

// The command line's arguments for HTML from a profile in `work` seeded as an informed user
// would seed it (as the engine seeds its own).
QStringList seededCommandLine(const QString& work, const office::Installation& installation)
{
    const QString profile = work + QStringLiteral("/cli-seeded");
    office::seedProfile(profile, installation);
    return {QStringLiteral("--headless"), QStringLiteral("--norestore"),
            QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
            QStringLiteral("--convert-to"), QStringLiteral("html")};
}

void benchSet(const char* title, const QStringList& documents,
              const office::Installation& installation)
{
    const double n = documents.size();
    QTemporaryDir work;
    std::printf("\n%s: %d documents\n", title, int(n));

    const QString soffice = installation.programFolder + QStringLiteral("/soffice");
    const QStringList seeded = seededCommandLine(work.path(), installation);
    runOffice(soffice,
              seeded + QStringList{QStringLiteral("--outdir"),
                                   work.filePath(QStringLiteral("warm")), documents.first()});

    QElapsedTimer timer;
    timer.start();
    double cpuBefore = cpuSeconds();
    runOffice(soffice,
              seeded +
                  QStringList{QStringLiteral("--outdir"), work.filePath(QStringLiteral("all"))} +
                  documents);
    const double floor = timer.nsecsElapsed() / 1e9 / n;
    const double floorCpu = (cpuSeconds() - cpuBefore) / n;

    timer.restart();
    cpuBefore = cpuSeconds();
    for (const QString& document : documents)
        runOffice(soffice, seeded + QStringList{QStringLiteral("--outdir"),
                                                work.filePath(QStringLiteral("each")), document});
    const double perFile = timer.nsecsElapsed() / 1e9 / n;
    const double perFileCpu = (cpuSeconds() - cpuBefore) / n;

    const auto show = [&](const QString& label, const EngineRun& run) {
        std::printf("  %-44s %6.3f s/document  %5.2f x floor  cpu %5.3f s  peak %4lld MB  (%d "
                    "failed)\n",
                    qPrintable(label), run.perDocument, run.perDocument / floor, run.cpuPerDocument,
                    run.peakMemory >> 20, run.failed);
    };
    // What a refused document costs beside a good one, each kind in a batch of its own.
    const auto byKind = [&](const QStringList& refused) {
        QStringList good = documents;
        for (const QString& document : refused)
            good.removeAll(document);
        for (const auto& [kind, list] : {std::pair{"refused", refused}, {"good", good}}) {
            if (list.isEmpty())
                continue;
            const EngineRun alone = runEngine(list, work.path(), 0);
            const EngineRun ahead = runEngine(list, work.path(), -1);
            std::printf("  %-8s documents (%2d): cpu per document %5.3f s nothing ahead, %5.3f s "
                        "converting ahead; %6.3f and %6.3f s/document\n",
                        kind, int(list.size()), alone.cpuPerDocument, ahead.cpuPerDocument,
                        alone.perDocument, ahead.perDocument);
        }
    };
    if (const QByteArray only = qgetenv("BENCH_AHEAD"); !only.isEmpty()) {
        // One engine run alone, to read its log: BENCH_AHEAD=2 bench_convert FILE...
        show(QStringLiteral("engine, %1 converting ahead").arg(only.toInt()),
             runEngine(documents, work.path(), only.toInt()));
        return;
    }
    const EngineRun alone = runEngine(documents, work.path(), 0);
    show(QStringLiteral("engine, nothing converted ahead"), alone);
    for (int ahead : {1, 2, 4})
        show(QStringLiteral("engine, %1 converting ahead").arg(ahead),
             runEngine(documents, work.path(), ahead));
    show(QStringLiteral("engine, as many ahead as it chooses"),
         runEngine(documents, work.path(), -1));
    std::printf("  %-44s %6.3f s/document  %5.2f x floor  cpu %5.3f s\n",
                "soffice --convert-to, once per file, seeded", perFile, perFile / floor,
                perFileCpu);
    std::printf("  %-44s %6.3f s/document  (the floor)   cpu %5.3f s\n",
                "soffice --convert-to, once for all files", floor, floorCpu);
    lokForks(documents, installation, work.path(), floor);
    byKind(alone.refused);
}

// A .docx of `words` words in paragraphs of 50, made by the office from plain text.
QString makeLongDocument(const QString& folder, int words, const office::Installation& installation)
{
    static const char* const kWords[] = {"lighthouse", "keeper", "of",   "the",   "northern",
                                         "coast",      "wrote",  "in",   "his",   "log",
                                         "that",       "wind",   "and",  "rain",  "came",
                                         "early",      "this",   "year", "while", "ships"};
    const QString text = folder + QStringLiteral("/long-%1.txt").arg(words);
    QFile file(text);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray paragraph;
    for (int k = 0; k < words; ++k) {
        paragraph += kWords[k % 20];
        paragraph += k % 50 == 49 ? "\n" : (k % 7 == 0 ? " " + QByteArray::number(k) + " " : " ");
        if (paragraph.size() > (1 << 16)) {
            file.write(paragraph);
            paragraph.clear();
        }
    }
    file.write(paragraph);
    file.close();
    const QString profile = folder + QStringLiteral("/maker");
    office::seedProfile(profile, installation);
    runOffice(installation.programFolder + QStringLiteral("/soffice"),
              {QStringLiteral("--headless"), QStringLiteral("--norestore"),
               QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
               QStringLiteral("--convert-to"), QStringLiteral("docx"), QStringLiteral("--outdir"),
               folder, text});
    QFile::remove(text);
    const QString document = folder + QStringLiteral("/long-%1.docx").arg(words);
    return QFileInfo::exists(document) ? document : QString();
}

// Long documents, each once through the engine (as one export of the Start button, nothing
// converted ahead) in either flavour and once through the command line.
void benchLong(const office::Installation& installation)
{
    QTemporaryDir work;
    const QString soffice = installation.programFolder + QStringLiteral("/soffice");
    const QString profile = work.filePath(QStringLiteral("cli-seeded"));
    office::seedProfile(profile, installation);
    const QStringList seeded{QStringLiteral("--headless"),
                             QStringLiteral("--norestore"),
                             QStringLiteral("-env:UserInstallation=") +
                                 QUrl::fromLocalFile(profile).toString(),
                             QStringLiteral("--convert-to"),
                             QStringLiteral("html"),
                             QStringLiteral("--outdir"),
                             work.filePath(QStringLiteral("cli"))};
    LibreOfficeOptions options;
    options.profileRoot = work.filePath(QStringLiteral("engine"));
    options.aheadInstances = 0;
    const auto engine = makeLibreOfficeAutomation(options);
    const QString out = work.filePath(QStringLiteral("engine-out"));
    QDir().mkpath(out);
    const auto convert = [&](const QString& document, int format) {
        ExportDocument(
            engine.get(), [format] { return std::optional<int>(format); }, document,
            HtmlOutputPath(out, document));
    };
    std::printf("\nlong documents, median of three conversions each (seconds; the engine over "
                "the command line):\n");
    QList<int> sizes = {50'000, 500'000, 1'000'000};
    // BENCH_WORDS=N: a document of N words only.
    if (const int only = qEnvironmentVariableIntValue("BENCH_WORDS"); only > 0)
        sizes = {only};
    bool first = true;
    for (const int words : std::as_const(sizes)) {
        const QString document = makeLongDocument(work.path(), words, installation);
        if (document.isEmpty()) {
            std::fprintf(stderr, "  could not make a document of %d words\n", words);
            continue;
        }
        if (std::exchange(first, false)) { // every side has run once
            runOffice(soffice, seeded + QStringList{document});
            convert(document, HtmlNormal);
        }
        // Three rounds, the sides taken in turn; the median of each side is shown.
        QList<double> times[3]; // command line, Normal, Filtered
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer timer;
            timer.start();
            runOffice(soffice, seeded + QStringList{document});
            times[0] << timer.nsecsElapsed() / 1e9;
            for (const int format : {int(HtmlNormal), int(HtmlFiltered)}) {
                timer.restart();
                try {
                    convert(document, format);
                } catch (const Failure& failure) {
                    std::fprintf(stderr, "  %s: %s\n", qPrintable(QFileInfo(document).fileName()),
                                 qPrintable(failure.description()));
                }
                times[format == HtmlFiltered ? 2 : 1] << timer.nsecsElapsed() / 1e9;
            }
        }
        for (QList<double>& side : times)
            std::sort(side.begin(), side.end());
        const double cli = times[0][1];
        const double engineSeconds[2] = {times[1][1], times[2][1]};
        std::printf("  %9d words (%6lld KB): command line %6.2f s, engine Normal %6.2f s "
                    "(%4.2f x), Filtered %6.2f s (%4.2f x)\n",
                    words, QFileInfo(document).size() >> 10, cli, engineSeconds[0],
                    engineSeconds[0] / cli, engineSeconds[1], engineSeconds[1] / cli);
        QFile::remove(document);
    }
}

// What running every instance in a network namespace of its own costs per document.
void benchNetwork(const QStringList& documents)
{
    std::printf("\n%lld documents, median of three batches each (seconds per document, "
                "processor seconds per document)\n",
                qint64(documents.size()));
    for (const int ahead : {0, -1}) {
        QList<std::pair<double, double>> sides[2]; // without network, with it
        for (int round = 0; round < 3; ++round) {
            for (const bool closed : {true, false}) {
                QTemporaryDir work;
                const EngineRun run = runEngine(documents, work.path(), ahead, closed);
                sides[closed ? 0 : 1] << std::pair{run.perDocument, run.cpuPerDocument};
            }
        }
        for (auto& side : sides)
            std::sort(side.begin(), side.end());
        std::printf("  %-28s without network %.3f s (%.3f cpu), with it %.3f s (%.3f cpu): "
                    "%+.1f ms a document\n",
                    ahead == 0 ? "converting none ahead:" : "converting ahead as chosen:",
                    sides[0][1].first, sides[0][1].second, sides[1][1].first, sides[1][1].second,
                    (sides[0][1].first - sides[1][1].first) * 1000);
    }
}

// The whole corpus through the program without a window (a process of its own, as a script
// starts it, its profiles made by a first run that is not counted), beside the engine as the
// window's Start button drives it and the command line: each three times, in turn; medians.
void benchHeadless(const QStringList& documents, const office::Installation& installation)
{
    const double n = documents.size();
    QTemporaryDir work;
    std::printf("\nthe whole corpus: %d documents, medians of three runs\n", int(n));
    const QString out = work.filePath(QStringLiteral("out"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), work.filePath(QStringLiteral("home")));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        environment.remove(QString::fromLatin1(name));
    const auto headless = [&] {
        QDir(out).removeRecursively();
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setStandardErrorFile(QProcess::nullDevice());
        program.start(QStringLiteral(DOCUFLUME_PROGRAM),
                      QStringList{QStringLiteral("--convert"), QStringLiteral("--output"), out} +
                          documents);
        program.waitForFinished(-1);
    };
    const QString soffice = installation.programFolder + QStringLiteral("/soffice");
    const QStringList seeded = seededCommandLine(work.path(), installation);
    const auto commandLineEach = [&] {
        for (const QString& document : documents)
            runOffice(soffice, seeded + QStringList{QStringLiteral("--outdir"), out, document});
    };
    const auto commandLineAll = [&] {
        runOffice(soffice, seeded + QStringList{QStringLiteral("--outdir"), out} + documents);
    };
    headless();
    commandLineAll();

    struct Side
    {
        const char* label;
        std::function<void()> run;
        std::vector<double> wall, cpu;
    };
    std::vector<Side> sides = {
        {"docuflume --convert (no window)", headless, {}, {}},
        {"engine, as the window's Start drives it",
         [&] { runEngine(documents, work.path(), -1); },
         {},
         {}},
        {"soffice --convert-to, once per file, seeded", commandLineEach, {}, {}},
        {"soffice --convert-to, once for all files", commandLineAll, {}, {}},
    };
    for (int round = 0; round < 3; ++round) {
        for (Side& side : sides) {
            QElapsedTimer timer;
            timer.start();
            const double cpuBefore = cpuSeconds();
            side.run();
            side.wall.push_back(timer.nsecsElapsed() / 1e9 / n);
            side.cpu.push_back((cpuSeconds() - cpuBefore) / n);
        }
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double floor = median(sides.back().wall);
    for (const Side& side : sides)
        std::printf("  %-44s %6.3f s/document  %5.2f x floor  cpu %5.3f s\n", side.label,
                    median(side.wall), median(side.wall) / floor, median(side.cpu));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const auto installation = office::Installation::find();
    if (!installation) {
        std::fputs("LibreOffice is not installed\n", stderr);
        return 1;
    }
    QStringList arguments = application.arguments().mid(1);
    int memoryRun = 0;
    if (arguments.size() == 2 && arguments.first() == QLatin1String("--memory")) {
        memoryRun = arguments.last().toInt();
        arguments.clear();
    }
    const bool network = arguments == QStringList{QStringLiteral("--network")};
    const bool headless = arguments == QStringList{QStringLiteral("--headless")};
    if (network || headless)
        arguments.clear();

    // The corpus's documents, smallest first.
    QFileInfoList corpus =
        QDir(QStringLiteral(DOCUFLUME_SOURCE_DIR "/../shared/corpus/dev"))
            .entryInfoList(QStringList{QStringLiteral("*.doc*"), QStringLiteral("*.rtf")},
                           QDir::Files, QDir::Size | QDir::Reversed);
    std::printf("LibreOffice in %s, %u cores\n", qPrintable(installation->programFolder),
                std::thread::hardware_concurrency());

    if (memoryRun > 0) {
        if (corpus.isEmpty()) {
            std::fputs("no documents to convert\n", stderr);
            return 1;
        }
        QStringList documents;
        for (int k = 0; k < memoryRun; ++k)
            documents << corpus[k % corpus.size()].absoluteFilePath();
        QTemporaryDir work;
        const EngineRun run = runEngine(documents, work.path(), -1);
        std::printf("%d documents: %.3f s/document, peak memory %lld MB (%d failed)\n", memoryRun,
                    run.perDocument, run.peakMemory >> 20, run.failed);
        return 0;
    }

    if (arguments == QStringList{QStringLiteral("--long")}) {
        benchLong(*installation);
        return 0;
    }
    if (!arguments.isEmpty()) {
        QStringList documents;
        for (const QString& path : arguments) {
            if (QFileInfo::exists(path))
                documents << QFileInfo(path).absoluteFilePath();
        }
        if (documents.isEmpty()) {
            std::fputs("no documents to convert\n", stderr);
            return 1;
        }
        benchSet("the documents given", documents, *installation);
        return 0;
    }
    if (corpus.isEmpty()) {
        std::fputs("no documents to convert\n", stderr);
        return 1;
    }
    QStringList small, real;
    for (const QFileInfo& file : corpus) {
        if (small.size() < 20)
            small << file.absoluteFilePath();
        if (file.size() >= 20 * 1024 && file.size() <= 2 * 1024 * 1024)
            real << file.absoluteFilePath();
    }
    if (network) {
        benchNetwork(small);
        return 0;
    }
    if (headless) {
        QStringList all;
        for (const QFileInfo& file : corpus)
            all << file.absoluteFilePath();
        benchHeadless(all, *installation);
        return 0;
    }
    benchSet("the 20 smallest documents of the corpus", small, *installation);
    benchSet("the corpus's documents of 20 KB to 2 MB", real, *installation);
    return 0;
}
