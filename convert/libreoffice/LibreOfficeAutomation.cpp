// The LibreOffice engine behind the automation interface: one private headless instance
// per document, from the instance pool, each call into it under the watchdog. Within a
// batch, the documents coming next are converted ahead, and each turn uses its result
// when it was made for exactly what the turn converts.

#include "convert/libreoffice/LibreOfficeAutomation.h"

#include "convert/libreoffice/AheadConversions.h"
#include "convert/libreoffice/InstancePool.h"
#include "convert/libreoffice/OfficeInstallation.h"
#include "convert/libreoffice/OfficeInstance.h"
#include "convert/libreoffice/OfficeProcess.h"
#include "convert/libreoffice/Watchdog.h"
#include "convert/pages/StagedSave.h"
#include "shell/Failure.h"

#include <QFileInfo>

namespace docuflume {
namespace {

using namespace office;

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
        if (!m_installation || !m_installation->writerUi)
            return;
        // What an earlier run that was killed left: its staging in the output folders, its
        // pipes' sockets, its instances' temporary files.
        m_ledger = std::make_unique<StagingLedger>(m_profileRoot);
        tidyFreeProfiles(m_profileRoot);
        m_pool = std::make_unique<InstancePool>(*m_installation, m_profileRoot, m_ledger->runId(),
                                                options.startAhead, options.quitTimeLimit,
                                                options.withoutNetwork, m_watchdog);
        const int ahead = options.aheadInstances < 0 ? AheadInstancesForThisMachine()
                                                     : std::min(options.aheadInstances, 16);
        if (ahead > 0)
            m_ahead = std::make_unique<AheadConversions>(*m_pool, limits(), ahead, m_ledger.get());
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
        m_inBatch = true;
        // Converting ahead takes the place of the single instance started ahead.
        if (m_pool && !m_ahead)
            m_pool->beginBatch();
    }
    void endBatch() noexcept override
    {
        m_inBatch = false;
        if (m_ahead)
            m_ahead->clear();
        if (m_pool)
            m_pool->endBatch();
    }
    void endNow() noexcept override
    {
        endBatch();
        if (m_pool)
            m_pool->endNow();
        // The program ends without unwinding: the run's ledger goes now.
        if (m_ledger)
            m_ledger->end();
    }
    void interrupt() noexcept override { office::OfficeProcess::stopAll(); }
    int aheadCapacity() const noexcept override
    {
        // Twice the instances, so that finished results wait while the next ones convert.
        return m_inBatch && m_ahead ? 2 * m_ahead->capacity() : 0;
    }
    void planAhead(const QList<PlannedExport>& next) noexcept override
    {
        if (!m_inBatch || !m_ahead || !m_installation || !m_installation->writerUi)
            return;
        try {
            m_ahead->plan(next);
        } catch (...) {
            // Converting ahead is only a saving: each document is converted at its turn.
        }
    }

    // A fresh instance, started now.
    std::unique_ptr<OfficeInstance> startInstance()
    {
        return std::make_unique<OfficeInstance>(
            m_pool->take(), limits(), m_watchdog, m_ledger.get(),
            [this](std::unique_ptr<OfficeProcess> process) { m_pool->retire(std::move(process)); });
    }
    AheadConversions* ahead() { return m_inBatch ? m_ahead.get() : nullptr; }

private:
    void checkInstallation() const;
    InstanceLimits limits() const { return {m_options.documentTimeLimit, m_options.quitTimeLimit}; }

    const LibreOfficeOptions m_options;
    const std::optional<Installation> m_installation;
    const QString m_profileRoot;
    Watchdog m_watchdog;
    std::unique_ptr<StagingLedger> m_ledger;   // made when LibreOffice can be used; outlives
                                               // every instance and staging folder below
    std::unique_ptr<InstancePool> m_pool;      // made with the ledger
    std::unique_ptr<AheadConversions> m_ahead; // after the pool: cleared before it goes
    bool m_inBatch = false;
};

// A document's turn in a batch that converts ahead: its instance starts only when the turn
// has no result made ahead to use, or that result was made for another page or flavour.
class TurnInstance final : public WordApplication
{
public:
    explicit TurnInstance(LibreOfficeEngine& engine) : m_engine(engine) {}
    ~TurnInstance() override = default;

    QString name() override { return kProductName; }
    std::unique_ptr<WordDocument> open(const QString& path) override;
    void quit() override
    {
        if (m_instance)
            m_instance->quit();
    }

    OfficeInstance& instance()
    {
        if (!m_instance)
            m_instance = m_engine.startInstance();
        return *m_instance;
    }

private:
    LibreOfficeEngine& m_engine;
    std::unique_ptr<OfficeInstance> m_instance;
};

// A document converted ahead, standing in for the one the turn opened.
class AheadDocument final : public WordDocument
{
public:
    AheadDocument(TurnInstance& turn, QString source, AheadResult result)
        : m_turn(turn), m_source(std::move(source)), m_result(std::move(result))
    {}

    void saveAs(const QList<NamedArgument>& arguments) override
    {
        const auto [target, format] = SaveTarget(arguments);
        const bool asked = m_result && target == m_result->made().outputPath &&
                           format == m_result->made().fileFormat;
        if (asked && m_result->failure()) {
            // The save failed ahead, for this very page: it fails now in the same words.
            const Failure failure = m_result->failure()->failure;
            m_result.reset();
            throw failure;
        }
        if (asked && QFileInfo::exists(m_result->staging())) {
            // Checked when it was written; MoveStaged removes the staging folder, whatever it
            // finds there.
            const QString staging = m_result->release();
            m_result.reset();
            MoveStaged(staging, target);
            return;
        }
        // Made for another page or flavour: this one is converted now.
        m_result.reset();
        m_turn.instance().open(m_source)->saveAs(arguments);
    }

private:
    TurnInstance& m_turn;
    const QString m_source;
    std::optional<AheadResult> m_result;
};

std::unique_ptr<WordDocument> TurnInstance::open(const QString& path)
{
    if (AheadConversions* ahead = m_engine.ahead()) {
        if (std::optional<AheadResult> result = ahead->take(path)) {
            // The office refused it ahead: that answer is the turn's, with no second try.
            if (result->failure() && !result->failure()->saving)
                throw Failure(result->failure()->failure);
            return std::make_unique<AheadDocument>(*this, path, std::move(*result));
        }
    }
    // Nothing made ahead, or it failed: converted alone, now, and any failure is its own.
    return instance().open(path);
}

void LibreOfficeEngine::checkInstallation() const
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
}

std::unique_ptr<WordApplication> LibreOfficeEngine::create()
{
    checkInstallation();
    if (ahead())
        return std::make_unique<TurnInstance>(*this);
    return startInstance();
}

} // namespace

std::unique_ptr<WordAutomation> makeLibreOfficeAutomation(const LibreOfficeOptions& options)
{
    return std::make_unique<LibreOfficeEngine>(options);
}

} // namespace docuflume
