// The LibreOffice engine. This is the only file that speaks UNO.

#include "convert/LibreOfficeAutomation.h"

#include "convert/DocumentKinds.h"
#include "convert/OfficeProcess.h"
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
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
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

#include <cstdio>
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
using rtl::OUString;

constexpr auto kStartLimit = std::chrono::seconds(60);
constexpr auto kQuitLimit = std::chrono::seconds(15);
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
        if (warning && approve.is())
            approve->select();
        else if (abort.is())
            abort->select();
    }
};

// The UNO runtime of this process, bootstrapped once against the installation's types.
Reference<css::uno::XComponentContext> localContext(const office::Installation& installation)
{
    static Reference<css::uno::XComponentContext> context;
    if (!context.is()) {
        rtl::Bootstrap::set(OUString::createFromAscii("URE_BOOTSTRAP"),
                            toOU(QStringLiteral("vnd.sun.star.pathname:") +
                                 installation.programFolder + QStringLiteral("/fundamentalrc")));
        try {
            context = cppu::defaultBootstrap_InitialComponentContext();
        } catch (const css::uno::Exception& error) {
            throw Failure(Failure::AutomationError,
                          QStringLiteral("LibreOffice's UNO runtime could not be started: ") +
                              toQ(error.Message));
        }
    }
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
    template <typename Call> auto guarded(const QString& what, Call&& call) -> decltype(call());

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
        : m_options(options), m_installation(office::Installation::find()),
          m_profileRoot(options.profileRoot.isEmpty() ? office::profileRoot() : options.profileRoot)
    {
        m_spareTimer.setSingleShot(true);
        QObject::connect(&m_spareTimer, &QTimer::timeout, &m_spareTimer,
                         [this] { m_spare.reset(); });
    }

    QString productName() const override { return kProductName; }
    std::unique_ptr<WordApplication> create() override;
    std::unique_ptr<WordApplication> attachRunning() override
    {
        if (!office::foreignOfficeRunning(m_profileRoot))
            throw Failure(Failure::AutomationError, QStringLiteral("LibreOffice is not running."));
        return std::make_unique<ForeignInstance>();
    }

    const LibreOfficeOptions& options() const { return m_options; }
    office::Watchdog& watchdog() { return m_watchdog; }
    // A document is open: the next one is likely to follow soon.
    void documentOpened();
    QString newStagingName()
    {
        return QStringLiteral(".docuflume-%1-%2").arg(::getpid()).arg(++m_staged);
    }

private:
    std::unique_ptr<office::OfficeProcess> launch();
    Reference<css::uno::XComponentContext> connect(office::OfficeProcess& process);

    LibreOfficeOptions m_options;
    std::optional<office::Installation> m_installation;
    QString m_profileRoot;
    office::Watchdog m_watchdog;
    std::unique_ptr<office::OfficeProcess> m_spare;
    QTimer m_spareTimer;
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
            if (remote.is()) return remote;
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

std::unique_ptr<WordApplication> LibreOfficeEngine::create()
{
    if (!m_installation)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice is not installed on this computer."));
    std::unique_ptr<office::OfficeProcess> process;
    if (m_spare && !m_spare->exitStatus()) process = std::move(m_spare);
    m_spare.reset();
    m_spareTimer.stop();
    if (!process) process = launch();
    try {
        const auto remote = connect(*process);
        auto desktop = css::frame::Desktop::create(remote);
        qCDebug(lcConvert) << "instance" << process->pid() << "ready";
        return std::make_unique<LibreOfficeInstance>(*this, std::move(process), desktop);
    } catch (const css::uno::Exception& error) {
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice could not be reached: ") + toQ(error.Message));
    }
}

void LibreOfficeEngine::documentOpened()
{
    if (!m_options.startAhead || m_spare) return;
    try {
        m_spare = launch();
        m_spareTimer.start(m_options.spareIdleLimit);
    } catch (const Failure&) {
        // Starting ahead is only a saving; the next create() starts its own.
    }
}

template <typename Call>
auto LibreOfficeInstance::guarded(const QString& what, Call&& call) -> decltype(call())
{
    if (m_dead) throw Failure(Failure::AutomationError, QStringLiteral("LibreOffice has stopped."));
    auto& watchdog = m_engine.watchdog();
    watchdog.arm(m_process->pid(), m_engine.options().documentTimeLimit);
    try {
        if constexpr (std::is_void_v<decltype(call())>) {
            call();
            if (watchdog.disarm()) throw css::lang::DisposedException();
        } else {
            auto result = call();
            if (watchdog.disarm()) throw css::lang::DisposedException();
            return result;
        }
    } catch (const css::uno::RuntimeException& error) {
        // A dead bridge: the office crashed, or the watchdog ended it.
        const bool timedOut = watchdog.disarm();
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
        throw Failure(
            Failure::AutomationError,
            QStringLiteral("LibreOffice stopped while %1: %2").arg(what, toQ(error.Message)));
    } catch (...) {
        watchdog.disarm();
        throw;
    }
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
    try {
        component = guarded(QStringLiteral("opening ") + shown, [&] {
            return m_desktop->loadComponentFromURL(
                fileUrl(path), OUString::createFromAscii("_blank"), 0, arguments);
        });
    } catch (const css::lang::IllegalArgumentException& error) {
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 could not be opened: %2").arg(shown, toQ(error.Message)));
    } catch (const css::io::IOException& error) {
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 could not be opened: %2").arg(shown, toQ(error.Message)));
    }
    if (!component.is())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 could not be opened: it is damaged, protected by a "
                                     "password, or not a document.")
                          .arg(shown));
    m_documents.push_back(component);

    QString filter;
    const Reference<css::frame::XModel> model(component, UNO_QUERY);
    if (model.is()) {
        for (const auto& argument : model->getArgs()) {
            if (argument.Name == "FilterName") filter = toQ(argument.Value.get<OUString>());
        }
    }
    qCDebug(lcConvert) << shown << "opened with" << filter;
    if (!Reference<css::text::XTextDocument>(component, UNO_QUERY).is())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 is not a text document.").arg(shown));
    if (!FilterFitsName(path, filter))
        throw Failure(
            Failure::AutomationError,
            QStringLiteral("%1 is not a Word document (it reads as \"%2\").").arg(shown, filter));
    m_engine.documentOpened();
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
    if (target.isEmpty() || !format || (*format != 8 && *format != 10))
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
        if (*format == 10) list.push_back(property("FilterOptions", Any(toOU(kFilteredOptions))));
        const Reference<css::frame::XStorable> storable(m_component, UNO_QUERY);
        try {
            m_instance.guarded(QStringLiteral("saving ") + output.fileName(), [&] {
                storable->storeToURL(fileUrl(staging.filePath(output.fileName())),
                                     properties(list));
            });
        } catch (const css::io::IOException& error) {
            throw Failure(Failure::AutomationError,
                          QStringLiteral("%1 could not be saved: %2")
                              .arg(output.fileName(), toQ(error.Message)));
        }

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
    if (m_quit) return;
    m_quit = true;
    if (!m_dead) {
        try {
            for (const auto& document : m_documents) {
                const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
                if (closeable.is()) closeable->close(true);
            }
            m_documents.clear();
            m_engine.watchdog().arm(m_process->pid(), kQuitLimit);
            m_desktop->terminate();
        } catch (const css::uno::Exception&) {
            // The office is on its way out; it is ended below whatever it answered.
        }
        m_engine.watchdog().disarm();
    }
    forget();
    if (!m_process->waitForExit(kQuitLimit)) m_process->kill();
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
    m_process->kill();
}

} // namespace

std::unique_ptr<WordAutomation> makeLibreOfficeAutomation(const LibreOfficeOptions& options)
{
    return std::make_unique<LibreOfficeEngine>(options);
}

} // namespace docuflume
