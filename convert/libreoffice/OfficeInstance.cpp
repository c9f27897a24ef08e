#include "convert/libreoffice/OfficeInstance.h"

#include "convert/ExportDocument.h"
#include "convert/libreoffice/DocumentKinds.h"
#include "convert/libreoffice/DocumentRevisions.h"
#include "convert/libreoffice/Watchdog.h"
#include "convert/pages/HtmlPage.h"
#include "convert/pages/PackageWords.h"
#include "convert/pages/StagedSave.h"
#include "shell/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <future>

#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/frame/XLoadable.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XRefreshable.hpp>

namespace docuflume::office {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

const QString kProductName = QStringLiteral("LibreOffice");

namespace {

// The same export filter serves both flavours: "Filtered" asks it for clean XHTML with the
// formatting in CSS. (The XSLT "XHTML Writer File" filter drops headers and pictures.)
const QString kHtmlFilter = QStringLiteral("HTML (StarWriter)");
const QString kFilteredOptions = QStringLiteral("XHTML");

// The words of the text the office loaded: its body and tables, as its plain-text filter
// writes them into a file of the instance's own (in one pass, with no object per word),
// counted here as the page's are. (Its text is not fetched across the bridge: a string with an
// unpaired surrogate, as a damaged .doc or .rtf can hold, ends the bridge that would carry it; the
// office's own encoder writes a replacement instead.)
std::optional<qsizetype> loadedWords(const Reference<css::lang::XComponent>& document,
                                     const QString& file)
{
    const Reference<css::frame::XStorable> storable(document, UNO_QUERY);
    if (!storable.is())
        return std::nullopt;
    std::optional<qsizetype> words;
    try {
        storable->storeToURL(
            fileUrl(file),
            properties({property("FilterName", Any(toOU(QStringLiteral("Text (encoded)")))),
                        property("FilterOptions", Any(toOU(QStringLiteral("UTF8,LF")))),
                        property("Overwrite", Any(true))}));
        QFile text(file);
        if (text.open(QIODevice::ReadOnly))
            words =
                CountWords(QString(QStringDecoder(QStringConverter::Utf8).decode(text.readAll())));
    } catch (const css::lang::DisposedException&) {
        QFile::remove(file);
        throw; // the office stopped: the call says so
    } catch (const css::uno::Exception&) {
    }
    QFile::remove(file);
    return words;
}

// The string a property list holds under `name`, or an empty one.
OUString valueOf(const Sequence<css::beans::PropertyValue>& list, const char* name)
{
    OUString value;
    for (const auto& item : list) {
        if (item.Name.equalsAscii(name))
            item.Value >>= value;
    }
    return value;
}

// Loads a document as a model alone, with no frame or view: the office then never lays it
// out, which a document opened in a (hidden) window is, page by page, while the office
// idles between our calls (a million words took twice the command line's time so). The
// office detects the file's type as the desktop would, and the model is made by the
// service the type's filter belongs to. Nothing when the office knows no type for it.
Reference<css::lang::XComponent>
loadWithoutView(const RemoteOffice& office, const OUString& url,
                const Sequence<css::beans::PropertyValue>& arguments)
{
    const Reference<css::lang::XMultiComponentFactory> services =
        office.context->getServiceManager();
    const auto make = [&](const char* service) {
        return services->createInstanceWithContext(OUString::createFromAscii(service),
                                                   office.context);
    };
    const Reference<css::document::XTypeDetection> detection(
        make("com.sun.star.document.TypeDetection"), UNO_QUERY_THROW);
    std::vector<css::beans::PropertyValue> list(arguments.begin(), arguments.end());
    list.push_back(property("URL", Any(url)));
    Sequence<css::beans::PropertyValue> descriptor = properties(list);
    const OUString type = detection->queryTypeByDescriptor(descriptor, true);
    if (type.isEmpty())
        return {};
    // What the office's configuration holds for a type or a filter.
    const auto settingsOf = [](const Reference<css::uno::XInterface>& set, const OUString& name) {
        Sequence<css::beans::PropertyValue> found;
        Reference<css::container::XNameAccess>(set, UNO_QUERY_THROW)->getByName(name) >>= found;
        return found;
    };
    OUString filter = valueOf(descriptor, "FilterName");
    if (filter.isEmpty())
        filter = valueOf(settingsOf(detection, type), "PreferredFilter");
    if (filter.isEmpty())
        return {};
    const OUString documentService =
        valueOf(settingsOf(make("com.sun.star.document.FilterFactory"), filter), "DocumentService");
    if (documentService.isEmpty())
        return {};
    const Reference<css::frame::XLoadable> model(
        services->createInstanceWithContext(documentService, office.context), UNO_QUERY_THROW);
    list.push_back(property("FilterName", Any(filter)));
    try {
        model->load(properties(list));
    } catch (...) {
        const Reference<css::util::XCloseable> closeable(model, UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
        throw;
    }
    // The fields a view updates once it is made (a caption's number) are updated as it would.
    const Reference<css::text::XTextFieldsSupplier> fields(model, UNO_QUERY);
    if (fields.is()) {
        try {
            const Reference<css::util::XRefreshable> refreshable(fields->getTextFields(),
                                                                 UNO_QUERY);
            if (refreshable.is())
                refreshable->refresh();
        } catch (const css::lang::DisposedException&) {
            throw;
        } catch (const css::uno::Exception& error) {
            qCDebug(lcConvert) << "fields not updated:" << toQ(error.Message);
        }
    }
    return Reference<css::lang::XComponent>(model, UNO_QUERY);
}

} // namespace

OfficeInstance::OfficeInstance(ReadyInstance ready, InstanceLimits limits, Watchdog& watchdog,
                               StagingLedger* ledger,
                               std::function<void(std::unique_ptr<OfficeProcess>)> retire)
    : m_process(std::move(ready.process)), m_office(std::move(ready.office)), m_limits(limits),
      m_watchdog(watchdog), m_ledger(ledger), m_retire(std::move(retire))
{}

QString OfficeInstance::name()
{
    return kProductName;
}

void OfficeInstance::guarded(const QString& what, const std::function<void()>& call,
                             const std::function<Failure()>& refused)
{
    if (m_ended != Ended::No)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice stopped while %1.").arg(what),
                      Failure::Cause::OfficeStopped);
    m_watchdog.arm(m_process->pid(), m_limits.document);
    bool stopped = false;          // the bridge died: the office crashed, or the watchdog ended it
    std::optional<Failure> failed; // the office answered with an error
    try {
        call();
    } catch (const css::lang::DisposedException&) {
        stopped = true;
    } catch (const css::uno::Exception& error) {
        // Its own words name its source files and exceptions: kept for the log only.
        qCDebug(lcConvert) << what << "failed:" << toQ(error.Message);
        failed = refused();
    } catch (...) {
        m_watchdog.disarm();
        throw;
    }
    const bool timedOut = m_watchdog.disarm();
    if (timedOut || stopped) {
        m_ended = timedOut ? Ended::TimedOut : Ended::Crashed;
        m_process->kill();
        if (timedOut)
            throw Failure(
                Failure::AutomationError,
                QStringLiteral("LibreOffice did not finish %1 within %2 seconds and was stopped.")
                    .arg(what)
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(m_limits.document)
                             .count()),
                Failure::Cause::TimeLimit);
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice stopped while %1.").arg(what),
                      Failure::Cause::OfficeStopped);
    }
    if (failed)
        throw *failed;
}

std::unique_ptr<WordDocument> OfficeInstance::open(const QString& path)
{
    const QFileInfo info(path);
    const QString shown = info.fileName().isEmpty() ? path : info.fileName();
    // What the office would answer only in words of its own internals.
    if (!info.exists())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 could not be found.").arg(QDir::toNativeSeparators(path)));
    if (info.isDir())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 is a folder, not a document.").arg(shown),
                      Failure::Cause::NotWordDocument);
    if (!info.isReadable())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 cannot be read: permission denied.").arg(shown));
    if (HasWordExtension(path) && info.isFile() && info.size() == 0)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 is empty: it is not a Word document.").arg(shown),
                      Failure::Cause::NotWordDocument);

    // The package's own count of its words is made while the office loads the document, on
    // a thread of its own: a large package takes a while, which the load then hides.
    std::future<std::optional<qsizetype>> stored;
    if (IsWordPackageName(path))
        stored = std::async(std::launch::async, [path] { return WordPackageWords(path); });

    const DecliningHandler handler = makeDecliningHandler();
    const auto arguments = properties({
        property("Hidden", Any(true)),
        property("ReadOnly", Any(true)),
        property("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
        property("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
        property("InteractionHandler", Any(handler.handler)),
    });
    const Failure damaged(Failure::AutomationError,
                          QStringLiteral("%1 is damaged or is not a Word document.").arg(shown),
                          Failure::Cause::Damaged);
    const auto refusal = [&] {
        return handler.asked->password
                   ? Failure(Failure::AutomationError,
                             QStringLiteral("%1 is protected by a password.").arg(shown),
                             Failure::Cause::NeedsPassword)
                   : damaged;
    };
    Reference<css::lang::XComponent> component;
    QString filter;
    bool isText = false;
    DocumentWords words{shown, std::nullopt, std::nullopt};
    guarded(
        QStringLiteral("converting ") + shown,
        [&] {
            component = loadWithoutView(m_office, fileUrl(path), arguments);
            if (!component.is())
                return;
            m_documents.push_back(component);
            const Reference<css::frame::XModel> model(component, UNO_QUERY);
            if (model.is())
                filter = toQ(valueOf(model->getArgs(), "FilterName"));
            isText = Reference<css::text::XTextDocument>(component, UNO_QUERY).is();
        },
        refusal);
    if (!component.is())
        throw refusal();
    qCDebug(lcConvert) << shown << "opened with" << filter;
    if (!isText)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 is not a text document.").arg(shown),
                      Failure::Cause::NotWordDocument);
    if (!FilterFitsName(path, filter))
        throw damaged;
    // What the page is checked against, once the document is known to be one to convert.
    guarded(
        QStringLiteral("converting ") + shown,
        [&] {
            words.loaded =
                loadedWords(component, m_process->temporaryFolder() + QStringLiteral("/words.txt"));
        },
        [&] { return damaged; });
    // Tracked changes and comments are marked for the page to show them.
    Revisions revisions;
    guarded(
        QStringLiteral("converting ") + shown,
        [&] { revisions = MarkDocumentRevisions(component); }, [&] { return damaged; });
    // The package's own count sees the text the office did not load.
    if (stored.valid())
        words.stored = stored.get();
    qCDebug(lcConvert) << shown << "holds" << words.loaded.value_or(-1) << "words loaded,"
                       << words.stored.value_or(-1) << "stored";
    return std::make_unique<OfficeDocument>(*this, component, std::move(words),
                                            std::move(revisions));
}

std::pair<QString, int> SaveTarget(const QList<NamedArgument>& arguments)
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
    return {target, *format};
}

void OfficeDocument::saveAs(const QList<NamedArgument>& arguments)
{
    const auto [target, format] = SaveTarget(arguments);
    // A failed or stopped save leaves nothing half-written, and an earlier output stays.
    SaveStaged(
        target, kProductName, [&](const QString& stagedPage) { store(stagedPage, format); },
        m_instance.ledger(), &m_words);
}

void OfficeDocument::store(const QString& page, int fileFormat)
{
    std::vector<css::beans::PropertyValue> list = {
        property("FilterName", Any(toOU(kHtmlFilter))),
        property("Overwrite", Any(true)),
    };
    if (fileFormat == HtmlFiltered)
        list.push_back(property("FilterOptions", Any(toOU(kFilteredOptions))));
    const QString name = QFileInfo(page).fileName();
    m_instance.guarded(
        QStringLiteral("saving ") + name,
        [&] {
            const Reference<css::frame::XStorable> storable(m_component, UNO_QUERY_THROW);
            storable->storeToURL(fileUrl(page), properties(list));
        },
        [&] {
            return Failure(Failure::AutomationError,
                           QStringLiteral("LibreOffice could not save %1.").arg(name));
        });
    if (m_revisions.isEmpty())
        return;
    QFile written(page);
    if (!written.open(QIODevice::ReadOnly))
        return;
    const std::optional<QByteArray> marked = MarkPageRevisions(written.readAll(), m_revisions);
    written.close();
    if (marked && (!written.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                   written.write(*marked) != marked->size()))
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice could not save %1.").arg(name));
}

void OfficeInstance::quit()
{
    if (m_quit)
        return;
    m_quit = true;
    if (m_ended == Ended::No) {
        // Closing a document can hang as well as terminating can.
        m_watchdog.arm(m_process->pid(), m_limits.quit);
        try {
            for (const auto& document : m_documents) {
                const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
                if (closeable.is())
                    closeable->close(true);
            }
            m_documents.clear();
            m_office.desktop->terminate();
        } catch (const css::uno::Exception&) {
            // The office is on its way out; it is ended below whatever it answered.
        }
        m_watchdog.disarm();
    }
    forget();
    if (m_retire) {
        m_retire(std::move(m_process));
    } else {
        if (!m_process->waitForExit(m_limits.quit))
            m_process->kill();
        m_process.reset();
    }
}

void OfficeInstance::forget()
{
    m_documents.clear();
    m_office = {};
}

OfficeInstance::~OfficeInstance()
{
    // An instance of ours never outlives its use, even when it was not quit.
    forget();
    if (m_process)
        m_process->kill();
}

} // namespace docuflume::office
