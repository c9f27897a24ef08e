#pragma once

#include "convert/WordAutomation.h"
#include "convert/libreoffice/InstancePool.h"
#include "shell/Failure.h"

#include "convert/pages/PageRevisions.h"
#include "convert/pages/StagedSave.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace docuflume::office {

class Watchdog;

struct InstanceLimits
{
    std::chrono::milliseconds document; // to open or to save one document
    std::chrono::milliseconds quit;     // to close its documents and end
};

// One private instance: a process of our own and the desktop it serves. Every call into it
// runs under `watchdog`; the thread that made it is the only one to use it.
class OfficeInstance final : public WordApplication
{
public:
    // Once told to end, the process is handed to `retire`; without one, it is waited for
    // here within the quit limit, and killed after it.
    OfficeInstance(ReadyInstance ready, InstanceLimits limits, Watchdog& watchdog,
                   StagingLedger* ledger,
                   std::function<void(std::unique_ptr<OfficeProcess>)> retire = {});
    ~OfficeInstance() override;

    QString name() override;
    std::unique_ptr<WordDocument> open(const QString& path) override;
    void quit() override;

    // Runs a call into the office under the watchdog; a call that outlives the limit, or
    // an office that dies under it, becomes a Failure that says so, and an error the office
    // answers becomes the Failure `refused` makes. `what` is what the call does
    // ("converting report.docx").
    void guarded(const QString& what, const std::function<void()>& call,
                 const std::function<Failure()>& refused);

    // How the instance ended before it was quit, if it did.
    enum class Ended { No, Crashed, TimedOut };
    Ended ended() const { return m_ended; }
    StagingLedger* ledger() const { return m_ledger; }

private:
    void forget();

    std::unique_ptr<OfficeProcess> m_process;
    RemoteOffice m_office;
    const InstanceLimits m_limits;
    Watchdog& m_watchdog;
    StagingLedger* const m_ledger;
    const std::function<void(std::unique_ptr<OfficeProcess>)> m_retire;
    std::vector<css::uno::Reference<css::lang::XComponent>> m_documents;
    Ended m_ended = Ended::No;
    bool m_quit = false;
};

// A document an instance of ours has open.
class OfficeDocument final : public WordDocument
{
public:
    OfficeDocument(OfficeInstance& instance, css::uno::Reference<css::lang::XComponent> component,
                   DocumentWords words, Revisions revisions)
        : m_instance(instance), m_component(std::move(component)), m_words(std::move(words)),
          m_revisions(std::move(revisions))
    {}
    // Saves into the target all or nothing (see SaveStaged); a page that lost the
    // document's text is not saved.
    void saveAs(const QList<NamedArgument>& arguments) override;
    // Writes the page alone, with its pictures beside it, where it is told.
    void store(const QString& page, int fileFormat);
    // The words the document held when it was opened, for the check of its page.
    const DocumentWords& words() const { return m_words; }

private:
    OfficeInstance& m_instance;
    css::uno::Reference<css::lang::XComponent> m_component;
    const DocumentWords m_words;
    const Revisions m_revisions; // what the markers in its text stand for
};

// The page and the save format that a save's arguments name; throws the word processor's
// "Invalid procedure call or argument" when they name no HTML flavour or no file.
std::pair<QString, int> SaveTarget(const QList<NamedArgument>& arguments);

extern const QString kProductName;

} // namespace docuflume::office
