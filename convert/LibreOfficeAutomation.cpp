// The LibreOffice engine. This is the only file that speaks UNO.

#include "convert/LibreOfficeAutomation.h"

#include "convert/DocumentKinds.h"
#include "convert/ExportDocument.h"
#include "convert/OfficeProcess.h"
#include "convert/SavedPageCheck.h"
#include "shell/Failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>
#include <QUrl>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionApprove.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <csignal>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>
#include <unistd.h>
#include <vector>

namespace docuflume {
namespace {

Q_LOGGING_CATEGORY(lcConvert, "docuflume.convert", QtWarningMsg)

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

constexpr auto kStartLimit = std::chrono::seconds(60);
const QString kProductName = QStringLiteral("LibreOffice");

// The same export filter serves both flavours: "Filtered" asks it for clean XHTML with the
// formatting in CSS. (The XSLT "XHTML Writer File" filter drops headers and pictures.)
const QString kHtmlFilter = QStringLiteral("HTML (StarWriter)");
const QString kFilteredOptions = QStringLiteral("XHTML");

OUString toOU(const QString& text)
{
    return OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()), sal_Int32(text.size()));
}

QString toQ(const OUString& text)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text.getStr()), text.getLength());
}

css::beans::PropertyValue property(const char* name, const Any& value)
{
    css::beans::PropertyValue result;
    result.Name = OUString::createFromAscii(name);
    result.Value = value;
    return result;
}

Sequence<css::beans::PropertyValue> properties(const std::vector<css::beans::PropertyValue>& list)
{
    return Sequence<css::beans::PropertyValue>(list.data(), sal_Int32(list.size()));
}

OUString fileUrl(const QString& path)
{
    return toOU(
        QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded()));
}

// Answers every question the office would ask the user: warnings are passed, anything else
// (a password, a repair, a format to choose) is declined, so the load fails at once.
class DecliningHandler final : public cppu::WeakImplHelper1<css::task::XInteractionHandler>
{
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override
    {
        const Any what = request->getRequest();
        css::task::ErrorCodeRequest errorCode;
        const bool warning = (what >>= errorCode) && (sal_uInt32(errorCode.ErrCode) & 0x80000000u);
        Reference<css::task::XInteractionContinuation> abort;
        Reference<css::task::XInteractionContinuation> approve;
        for (const auto& continuation : request->getContinuations()) {
            if (Reference<css::task::XInteractionAbort>(continuation, UNO_QUERY).is())
                abort = continuation;
            if (Reference<css::task::XInteractionApprove>(continuation, UNO_QUERY).is())
                approve = continuation;
        }
        qCDebug(lcConvert) << "question" << toQ(what.getValueTypeName()) << Qt::hex
                           << sal_uInt32(errorCode.ErrCode);
        if (warning && approve.is())
            approve->select();
        else if (abort.is())
            abort->select();
    }
};

// The UNO runtime of this process, bootstrapped once against the installation's types.
Reference<css::uno::XComponentContext> localContext(const office::Installation& installation)
{
    // Made once, by whichever thread comes first; a failure is tried again next time.
    static const Reference<css::uno::XComponentContext> context = [&] {
        rtl::Bootstrap::set(OUString::createFromAscii("URE_BOOTSTRAP"),
                            toOU(QStringLiteral("vnd.sun.star.pathname:") +
                                 installation.programFolder + QStringLiteral("/fundamentalrc")));
        try {
            return cppu::defaultBootstrap_InitialComponentContext();
        } catch (const css::uno::Exception& error) {
            throw Failure(Failure::AutomationError,
                          QStringLiteral("LibreOffice's UNO runtime could not be started: ") +
                              toQ(error.Message));
        }
    }();
    return context;
}

class LibreOfficeEngine;

// One private instance: a process of our own and the desktop it serves.
class LibreOfficeInstance final : public WordApplication
{
public:
    LibreOfficeInstance(LibreOfficeEngine& engine, std::unique_ptr<office::OfficeProcess> process,
                        Reference<css::frame::XDesktop2> desktop)
        : m_engine(engine), m_process(std::move(process)), m_desktop(std::move(desktop))
    {}
    ~LibreOfficeInstance() override;

    QString name() override { return kProductName; }
    std::unique_ptr<WordDocument> open(const QString& path) override;
    void quit() override;

    // Runs a call into the office under the watchdog; a call that outlives the limit, or
    // an office that dies under it, becomes a Failure.
    void guarded(const QString& what, const std::function<void()>& call);

    LibreOfficeEngine& engine() { return m_engine; }

private:
    void forget();

    LibreOfficeEngine& m_engine;
    std::unique_ptr<office::OfficeProcess> m_process;
    Reference<css::frame::XDesktop2> m_desktop;
    std::vector<Reference<css::lang::XComponent>> m_documents;
    bool m_dead = false;
    bool m_quit = false;
};

class LibreOfficeDocument final : public WordDocument
{
public:
    LibreOfficeDocument(LibreOfficeInstance& instance, Reference<css::lang::XComponent> component)
        : m_instance(instance), m_component(std::move(component))
    {}
    void saveAs(const QList<NamedArgument>& arguments) override;

private:
    LibreOfficeInstance& m_instance;
    Reference<css::lang::XComponent> m_component;
};

// The instance of the user's own, found running; only its name can be read.
class ForeignInstance final : public WordApplication
{
public:
    QString name() override { return kProductName; }
    std::unique_ptr<WordDocument> open(const QString&) override
    {
        throw Failure(Failure::AutomationError, QStringLiteral("Not an instance of ours."));
    }
    void quit() override {}
};

class LibreOfficeEngine final : public WordAutomation
{
public:
    explicit LibreOfficeEngine(const LibreOfficeOptions& options)
        : m_options(options), m_installation(options.programFolder.isEmpty()
                                                 ? office::Installation::find()
                                                 : office::Installation::at(options.programFolder)),
          m_profileRoot(options.profileRoot.isEmpty() ? office::profileRoot() : options.profileRoot)
    {
        // Writing to an office that has just died must fail the call, not end the program.
        ::signal(SIGPIPE, SIG_IGN);
        m_reapTimer.setSingleShot(true);
        QObject::connect(&m_reapTimer, &QTimer::timeout, &m_reapTimer, [this] {
            reap();
            reapLater();
        });
    }

    QString productName() const override { return kProductName; }
    std::unique_ptr<WordApplication> create() override;
    std::unique_ptr<WordApplication> attachRunning() override
    {
        reap();
        if (!office::foreignOfficeRunning(m_profileRoot))
            throw Failure(Failure::AutomationError, QStringLiteral("LibreOffice is not running."));
        return std::make_unique<ForeignInstance>();
    }

    // The instance readied ahead waits for the batch's next document, however long the
    // batch takes to ask for it (an error box, a slow yield); it goes when the batch ends.
    void beginBatch() noexcept override { m_inBatch = true; }
    void endBatch() noexcept override
    {
        m_inBatch = false;
        m_spare.reset();
        reap();
    }

    const LibreOfficeOptions& options() const { return m_options; }
    office::Watchdog& watchdog() { return m_watchdog; }
    QString newStagingName()
    {
        return QStringLiteral(".docuflume-%1-%2").arg(::getpid()).arg(++m_staged);
    }
    // Lets an instance that was told to end finish on its own, without waiting for it.
    void retire(std::unique_ptr<office::OfficeProcess> process);

    ~LibreOfficeEngine() override
    {
        m_spare.reset();
        // Those on their way out get a moment; whatever still runs then is killed.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (auto& ending : m_ending) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ending.process->waitForExit(std::max(left, std::chrono::milliseconds(0)));
        }
    }

private:
    std::unique_ptr<office::OfficeProcess> launch();
    Reference<css::uno::XComponentContext> connect(office::OfficeProcess& process);
    void reap();
    void reapLater();

    struct Ending
    {
        std::unique_ptr<office::OfficeProcess> process;
        std::chrono::steady_clock::time_point deadline;
    };

    // An instance started ahead, and the thread that connects to it and readies its word
    // processor while the current document converts.
    struct Spare
    {
        std::unique_ptr<office::OfficeProcess> process;
        std::future<Reference<css::frame::XDesktop2>> desktop;
        ~Spare();
    };

    Reference<css::frame::XDesktop2> prepare(office::OfficeProcess& process, bool warm);
    void startSpare();

    LibreOfficeOptions m_options;
    std::optional<office::Installation> m_installation;
    QString m_profileRoot;
    office::Watchdog m_watchdog;
    std::unique_ptr<Spare> m_spare;
    bool m_inBatch = false;
    QTimer m_reapTimer;
    std::vector<Ending> m_ending;
    int m_launched = 0;
    int m_staged = 0;
};

std::unique_ptr<office::OfficeProcess> LibreOfficeEngine::launch()
{
    auto profile = office::ProfileLease::acquire(m_profileRoot, m_installation->version);
    const QString pipe = QStringLiteral("docuflume-%1-%2").arg(::getpid()).arg(++m_launched);
    return office::OfficeProcess::start(*m_installation, std::move(profile), pipe);
}

Reference<css::uno::XComponentContext> LibreOfficeEngine::connect(office::OfficeProcess& process)
{
    const auto context = localContext(*m_installation);
    const Reference<css::bridge::XUnoUrlResolver> resolver =
        css::bridge::UnoUrlResolver::create(context);
    const OUString address = toOU(QStringLiteral("uno:pipe,name=") + process.pipeName() +
                                  QStringLiteral(";urp;StarOffice.ComponentContext"));
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    bool restarted = false;
    for (;;) {
        try {
            Reference<css::uno::XComponentContext> remote(resolver->resolve(address), UNO_QUERY);
            if (remote.is())
                return remote;
        } catch (const css::connection::NoConnectException&) {
            // Not listening yet.
        }
        if (const auto status = process.exitStatus()) {
            // A brand-new profile makes the office ask to be started once more.
            if (*status == 81 && !restarted) {
                restarted = true;
                process.restart();
                continue;
            }
            throw Failure(
                Failure::AutomationError,
                QStringLiteral("LibreOffice ended while starting (status %1).").arg(*status));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            process.kill();
            throw Failure(Failure::AutomationError,
                          QStringLiteral("LibreOffice did not start within %1 seconds.")
                              .arg(kStartLimit.count()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void LibreOfficeEngine::retire(std::unique_ptr<office::OfficeProcess> process)
{
    m_ending.push_back(
        {std::move(process), std::chrono::steady_clock::now() + m_options.quitTimeLimit});
    reap();
    reapLater();
}

void LibreOfficeEngine::reapLater()
{
    // Between runs nothing else would collect an ended instance.
    if (!m_ending.empty() && !m_reapTimer.isActive())
        m_reapTimer.start(std::chrono::milliseconds(250));
}

void LibreOfficeEngine::reap()
{
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(m_ending, [now](Ending& ending) {
        if (ending.process->exitStatus())
            return true;
        if (now < ending.deadline)
            return false;
        ending.process->kill();
        return true;
    });
}

Reference<css::frame::XDesktop2> LibreOfficeEngine::prepare(office::OfficeProcess& process,
                                                            bool warm)
{
    try {
        const auto desktop = css::frame::Desktop::create(connect(process));
        if (warm) {
            // The first document an office opens pays for loading the word processor
            // itself; an empty one, opened and closed here, takes that cost ahead of time.
            const auto blank =
                desktop->loadComponentFromURL(OUString::createFromAscii("private:factory/swriter"),
                                              OUString::createFromAscii("_blank"), 0,
                                              properties({property("Hidden", Any(true))}));
            const Reference<css::util::XCloseable> closeable(blank, UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
        }
        return desktop;
    } catch (const css::uno::Exception& error) {
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice could not be reached: ") + toQ(error.Message));
    }
}

LibreOfficeEngine::Spare::~Spare()
{
    // Ending the process ends the thread's calls into it; then both are gone.
    if (desktop.valid()) {
        if (desktop.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            ::kill(-process->pid(), SIGKILL);
        desktop.wait();
    }
}

void LibreOfficeEngine::startSpare()
{
    if (!m_options.startAhead || m_spare)
        return;
    try {
        auto spare = std::make_unique<Spare>();
        spare->process = launch();
        office::OfficeProcess* process = spare->process.get();
        spare->desktop =
            std::async(std::launch::async, [this, process] { return prepare(*process, true); });
        m_spare = std::move(spare);
    } catch (const Failure&) {
        // Starting ahead is only a saving; the next create() starts its own.
    }
}

std::unique_ptr<WordApplication> LibreOfficeEngine::create()
{
    reap();
    if (!m_installation)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice is not installed on this computer."));
    if (!m_installation->writerUi)
        throw Failure(
            Failure::IncompleteInstallation,
            QStringLiteral("LibreOffice Writer is installed without its user interface files "
                           "(the package libreoffice-writer-nogui), and without them LibreOffice "
                           "stops on many documents. Please install the package "
                           "libreoffice-writer (sudo apt install libreoffice-writer), then start "
                           "Docuflume again."));
    std::unique_ptr<office::OfficeProcess> process;
    Reference<css::frame::XDesktop2> desktop;
    if (const std::unique_ptr<Spare> spare = std::move(m_spare)) {
        try {
            if (spare->desktop.wait_for(kStartLimit) == std::future_status::ready) {
                desktop = spare->desktop.get();
                process = std::move(spare->process);
            }
        } catch (const Failure&) {
            // It did not come up; a fresh one is started below.
        }
    }
    if (!process) {
        process = launch();
        // An office that accepts the connection and then hangs would block here for good.
        // (One readied ahead is waited for with a limit, and killed when it misses it.)
        m_watchdog.arm(process->pid(), kStartLimit);
        try {
            desktop = prepare(*process, false);
        } catch (const Failure&) {
            if (!m_watchdog.disarm())
                throw;
        }
        if (m_watchdog.disarm())
            throw Failure(Failure::AutomationError,
                          QStringLiteral("LibreOffice did not start within %1 seconds.")
                              .arg(kStartLimit.count()));
    }
    qCDebug(lcConvert) << "instance" << process->pid() << "ready";
    // Every document gets an instance of its own: within a batch the next one starts now,
    // while this one converts.
    if (m_inBatch)
        startSpare();
    return std::make_unique<LibreOfficeInstance>(*this, std::move(process), desktop);
}

void LibreOfficeInstance::guarded(const QString& what, const std::function<void()>& call)
{
    if (m_dead)
        throw Failure(Failure::AutomationError, QStringLiteral("LibreOffice has stopped."));
    auto& watchdog = m_engine.watchdog();
    watchdog.arm(m_process->pid(), m_engine.options().documentTimeLimit);
    std::optional<QString> stopped; // the bridge died: the office crashed, or the watchdog ended it
    std::optional<QString> failed;  // the office answered with an error
    try {
        call();
    } catch (const css::lang::DisposedException& error) {
        stopped = toQ(error.Message);
    } catch (const css::uno::Exception& error) {
        failed = toQ(error.Message);
    } catch (...) {
        watchdog.disarm();
        throw;
    }
    const bool timedOut = watchdog.disarm();
    if (timedOut || stopped) {
        m_dead = true;
        m_process->kill();
        if (timedOut)
            throw Failure(Failure::AutomationError,
                          QStringLiteral("LibreOffice did not finish %1 within %2 seconds and was "
                                         "stopped.")
                              .arg(what)
                              .arg(std::chrono::duration_cast<std::chrono::seconds>(
                                       m_engine.options().documentTimeLimit)
                                       .count()));
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice stopped while %1. %2").arg(what, *stopped));
    }
    if (failed)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice failed %1: %2").arg(what, *failed));
}

std::unique_ptr<WordDocument> LibreOfficeInstance::open(const QString& path)
{
    const QFileInfo info(path);
    const QString shown = info.fileName();
    if (HasWordExtension(path) && info.isFile() && info.size() == 0)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 is empty: it is not a Word document.").arg(shown));

    const auto arguments = properties({
        property("Hidden", Any(true)),
        property("ReadOnly", Any(true)),
        property("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
        property("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
        property("InteractionHandler",
                 Any(Reference<css::task::XInteractionHandler>(new DecliningHandler))),
    });
    Reference<css::lang::XComponent> component;
    QString filter;
    bool isText = false;
    guarded(QStringLiteral("opening ") + shown, [&] {
        component = m_desktop->loadComponentFromURL(
            fileUrl(path), OUString::createFromAscii("_blank"), 0, arguments);
        if (!component.is())
            return;
        m_documents.push_back(component);
        const Reference<css::frame::XModel> model(component, UNO_QUERY);
        if (model.is()) {
            for (const auto& argument : model->getArgs()) {
                if (argument.Name == "FilterName")
                    filter = toQ(argument.Value.get<OUString>());
            }
        }
        isText = Reference<css::text::XTextDocument>(component, UNO_QUERY).is();
    });
    if (!component.is())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 could not be opened: it is damaged, protected by a "
                                     "password, or not a document.")
                          .arg(shown));
    qCDebug(lcConvert) << shown << "opened with" << filter;
    if (!isText)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 is not a text document.").arg(shown));
    if (!FilterFitsName(path, filter))
        throw Failure(
            Failure::AutomationError,
            QStringLiteral("%1 is not a Word document (it reads as \"%2\").").arg(shown, filter));
    return std::make_unique<LibreOfficeDocument>(*this, component);
}

void LibreOfficeDocument::saveAs(const QList<NamedArgument>& arguments)
{
    QString target;
    std::optional<int> format;
    for (const NamedArgument& argument : arguments) {
        if (argument.name == QLatin1String("fileName"))
            target = argument.value.toString();
        else if (argument.name == QLatin1String("FileFormat"))
            format = argument.value.toInt();
    }
    if (target.isEmpty() || !format || (*format != HtmlNormal && *format != HtmlFiltered))
        throw Failure(Failure::InvalidArgument,
                      QStringLiteral("Invalid procedure call or argument"));

    const QFileInfo output(target);
    const QDir folder = output.absoluteDir();
    if (!folder.exists())
        throw Failure(Failure::PathNotFound,
                      QStringLiteral("The folder %1 does not exist.").arg(folder.path()));

    // The office writes into a folder of our own beside the output first, and its files
    // are moved into place only when the save succeeded: a failed or stopped save leaves
    // nothing half-written, and an earlier output stays as it was.
    const QString stagingName = m_instance.engine().newStagingName();
    if (!folder.mkdir(stagingName))
        throw Failure(Failure::PermissionDenied,
                      QStringLiteral("Cannot write into the folder %1.").arg(folder.path()));
    QDir staging(folder.filePath(stagingName));
    QStringList moved;
    try {
        std::vector<css::beans::PropertyValue> list = {
            property("FilterName", Any(toOU(kHtmlFilter))),
            property("Overwrite", Any(true)),
        };
        if (*format == HtmlFiltered)
            list.push_back(property("FilterOptions", Any(toOU(kFilteredOptions))));
        m_instance.guarded(QStringLiteral("saving ") + output.fileName(), [&] {
            const Reference<css::frame::XStorable> storable(m_component, UNO_QUERY_THROW);
            storable->storeToURL(fileUrl(staging.filePath(output.fileName())), properties(list));
        });
        if (const auto problem = CheckSavedPage(staging.path(), output.fileName(), folder.path()))
            throw Failure(Failure::AutomationError,
                          QStringLiteral("LibreOffice did not save %1 soundly: %2.")
                              .arg(output.fileName(), *problem));

        // The pictures first, the page last, so that a page never points at missing ones.
        QStringList files = staging.entryList(QDir::Files | QDir::Hidden);
        files.removeAll(output.fileName());
        files.append(output.fileName());
        for (const QString& name : files) {
            const QByteArray from = QFile::encodeName(staging.filePath(name));
            const QByteArray to = QFile::encodeName(folder.filePath(name));
            if (::rename(from.constData(), to.constData()) != 0)
                throw Failure(
                    Failure::PermissionDenied,
                    QStringLiteral("%1 could not be written into %2.").arg(name, folder.path()));
            moved << folder.filePath(name);
        }
    } catch (...) {
        for (const QString& path : moved)
            QFile::remove(path);
        staging.removeRecursively();
        throw;
    }
    staging.removeRecursively();
}

void LibreOfficeInstance::quit()
{
    if (m_quit)
        return;
    m_quit = true;
    if (!m_dead) {
        // Closing a document can hang as well as terminating can.
        m_engine.watchdog().arm(m_process->pid(), m_engine.options().quitTimeLimit);
        try {
            for (const auto& document : m_documents) {
                const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
                if (closeable.is())
                    closeable->close(true);
            }
            m_documents.clear();
            m_desktop->terminate();
        } catch (const css::uno::Exception&) {
            // The office is on its way out; it is ended below whatever it answered.
        }
        m_engine.watchdog().disarm();
    }
    forget();
    m_engine.retire(std::move(m_process));
}

void LibreOfficeInstance::forget()
{
    m_documents.clear();
    m_desktop.clear();
}

LibreOfficeInstance::~LibreOfficeInstance()
{
    // An instance of ours never outlives its use, even when it was not quit.
    forget();
    if (m_process)
        m_process->kill();
}

} // namespace

std::unique_ptr<WordAutomation> makeLibreOfficeAutomation(const LibreOfficeOptions& options)
{
    return std::make_unique<LibreOfficeEngine>(options);
}

} // namespace docuflume
