// The LibreOffice engine behind the automation interface: one private headless instance
// per document, from the instance pool, each call into it under the watchdog.

#include "convert/libreoffice/LibreOfficeAutomation.h"

#include "convert/ExportDocument.h"
#include "convert/StagedSave.h"
#include "convert/libreoffice/DocumentKinds.h"
#include "convert/libreoffice/InstancePool.h"
#include "convert/libreoffice/OfficeInstallation.h"
#include "convert/libreoffice/UnoGlue.h"
#include "convert/libreoffice/Watchdog.h"
#include "shell/Failure.h"

#include <QFileInfo>

#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <functional>
#include <vector>

namespace docuflume {
namespace {

using namespace office;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

const QString kProductName = QStringLiteral("LibreOffice");

// The same export filter serves both flavours: "Filtered" asks it for clean XHTML with the
// formatting in CSS. (The XSLT "XHTML Writer File" filter drops headers and pictures.)
const QString kHtmlFilter = QStringLiteral("HTML (StarWriter)");
const QString kFilteredOptions = QStringLiteral("XHTML");

class LibreOfficeEngine;

// One private instance: a process of our own and the desktop it serves.
class LibreOfficeInstance final : public WordApplication
{
public:
    LibreOfficeInstance(LibreOfficeEngine& engine, ReadyInstance ready)
        : m_engine(engine), m_process(std::move(ready.process)), m_desktop(std::move(ready.desktop))
    {}
    ~LibreOfficeInstance() override;

    QString name() override { return kProductName; }
    std::unique_ptr<WordDocument> open(const QString& path) override;
    void quit() override;

    // Runs a call into the office under the watchdog; a call that outlives the limit, or
    // an office that dies under it, becomes a Failure.
    void guarded(const QString& what, const std::function<void()>& call);

private:
    void forget();

    LibreOfficeEngine& m_engine;
    std::unique_ptr<OfficeProcess> m_process;
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
        : m_options(options),
          m_installation(options.programFolder.isEmpty() ? Installation::find()
                                                         : Installation::at(options.programFolder)),
          m_profileRoot(options.profileRoot.isEmpty() ? office::profileRoot() : options.profileRoot)
    {
        if (m_installation)
            m_pool =
                std::make_unique<InstancePool>(*m_installation, m_profileRoot, options.startAhead,
                                               options.quitTimeLimit, m_watchdog);
    }

    QString productName() const override { return kProductName; }
    std::unique_ptr<WordApplication> create() override;
    std::unique_ptr<WordApplication> attachRunning() override
    {
        if (m_pool)
            m_pool->reap();
        if (!foreignOfficeRunning(m_profileRoot))
            throw Failure(Failure::AutomationError, QStringLiteral("LibreOffice is not running."));
        return std::make_unique<ForeignInstance>();
    }

    void beginBatch() noexcept override
    {
        if (m_pool)
            m_pool->beginBatch();
    }
    void endBatch() noexcept override
    {
        if (m_pool)
            m_pool->endBatch();
    }

    const LibreOfficeOptions& options() const { return m_options; }
    Watchdog& watchdog() { return m_watchdog; }
    InstancePool& pool() { return *m_pool; }

private:
    const LibreOfficeOptions m_options;
    const std::optional<Installation> m_installation;
    const QString m_profileRoot;
    Watchdog m_watchdog;
    std::unique_ptr<InstancePool> m_pool; // made when LibreOffice is installed
};

std::unique_ptr<WordApplication> LibreOfficeEngine::create()
{
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
    return std::make_unique<LibreOfficeInstance>(*this, m_pool->take());
}

void LibreOfficeInstance::guarded(const QString& what, const std::function<void()>& call)
{
    if (m_dead)
        throw Failure(Failure::AutomationError, QStringLiteral("LibreOffice has stopped."));
    const auto limit = m_engine.options().documentTimeLimit;
    auto& watchdog = m_engine.watchdog();
    watchdog.arm(m_process->pid(), limit);
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
            throw Failure(
                Failure::AutomationError,
                QStringLiteral("LibreOffice did not finish %1 within %2 seconds and was stopped.")
                    .arg(what)
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(limit).count()));
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
        property("InteractionHandler", Any(makeDecliningHandler())),
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
    if (target.isEmpty() || (format != HtmlNormal && format != HtmlFiltered))
        throw Failure(Failure::InvalidArgument,
                      QStringLiteral("Invalid procedure call or argument"));

    std::vector<css::beans::PropertyValue> list = {
        property("FilterName", Any(toOU(kHtmlFilter))),
        property("Overwrite", Any(true)),
    };
    if (format == HtmlFiltered)
        list.push_back(property("FilterOptions", Any(toOU(kFilteredOptions))));
    const QString name = QFileInfo(target).fileName();
    // A failed or stopped save leaves nothing half-written, and an earlier output stays.
    SaveStaged(target, kProductName, [&](const QString& stagedPage) {
        m_instance.guarded(QStringLiteral("saving ") + name, [&] {
            const Reference<css::frame::XStorable> storable(m_component, UNO_QUERY_THROW);
            storable->storeToURL(fileUrl(stagedPage), properties(list));
        });
    });
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
    m_engine.pool().retire(std::move(m_process));
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
