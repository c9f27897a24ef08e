// Word behind the automation interface: each operation is one of WordEngine's, with Qt's
// strings and values turned into COM's and a COM error into a Failure that carries its
// description.

#include "convert/com/WordComAutomation.h"

#include "convert/com/ComDispatch.h"
#include "convert/com/WordEngine.h"
#include "shell/Failure.h"
#include "shell/Yield.h"

namespace docuflume {
namespace {

using namespace com;

std::wstring wide(const QString& text)
{
    return text.toStdWString();
}

// The class a report gives it, where the engine's own code tells: a call past its time limit,
// or a Word that stopped (or was stopped) under it.
Failure failureOf(const ComError& error)
{
    const HRESULT code = error.code();
    const Failure::Cause cause = code == RPC_E_TIMEOUT ? Failure::Cause::TimeLimit
                                 : ServerIsGone(code)  ? Failure::Cause::OfficeStopped
                                                       : Failure::Cause::Other;
    return Failure(Failure::AutomationError, QString::fromStdWString(error.description()), cause);
}

template <typename Call> auto guarded(Call call) -> decltype(call())
{
    try {
        return call();
    } catch (const ComError& error) {
        throw failureOf(error);
    }
}

// A value as Word takes it: strings as strings, booleans as booleans, numbers as 32-bit
// integers.
Variant variantOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return Variant(value.toBool());
    case QMetaType::Int:
        return Variant(std::int32_t(value.toInt()));
    default:
        return Variant(wide(value.toString()));
    }
}

class WordDocumentCom final : public WordDocument
{
public:
    explicit WordDocumentCom(std::unique_ptr<OpenedDocument> document)
        : m_document(std::move(document))
    {}
    void saveAs(const QList<NamedArgument>& arguments) override
    {
        std::vector<NamedValue> named;
        for (const NamedArgument& argument : arguments)
            named.push_back({wide(argument.name), variantOf(argument.value)});
        guarded([&] { m_document->saveAs(named); });
    }

private:
    std::unique_ptr<OpenedDocument> m_document;
};

class WordApplicationCom final : public WordApplication
{
public:
    explicit WordApplicationCom(std::unique_ptr<WordInstance> instance)
        : m_instance(std::move(instance))
    {}
    QString name() override
    {
        return guarded([&] { return QString::fromStdWString(m_instance->name()); });
    }
    std::unique_ptr<WordDocument> open(const QString& path) override
    {
        return guarded(
            [&] { return std::make_unique<WordDocumentCom>(m_instance->open(wide(path))); });
    }
    void quit() override
    {
        guarded([&] { m_instance->quit(); });
    }

private:
    std::unique_ptr<WordInstance> m_instance;
};

// The user's Word, or one of ours already quit: only its name is known, and it is never quit.
class RunningWordCom final : public WordApplication
{
public:
    explicit RunningWordCom(QString name) : m_name(std::move(name)) {}
    QString name() override { return m_name; }
    std::unique_ptr<WordDocument> open(const QString&) override
    {
        throw Failure(Failure::AutomationError,
                      QStringLiteral("The user's own Word is never used for a conversion."));
    }
    void quit() override {}

private:
    QString m_name;
};

class WordComAutomation final : public WordAutomation
{
public:
    QString productName() const override { return QStringLiteral("Microsoft Word"); }
    std::unique_ptr<WordApplication> create() override
    {
        if (m_stopped)
            throw Failure(Failure::AutomationError,
                          QStringLiteral("Not converted: Word was not started again, since one "
                                         "could not be told apart from another Word. Close Word "
                                         "and start again."));
        try {
            return std::make_unique<WordApplicationCom>(m_engine.create());
        } catch (const ComError& error) {
            if (error.code() != kWordNotToldApart)
                throw failureOf(error);
            // It started, answered and was quit at once: installed and working, which is all
            // the start-up check asks.
            if (!m_inBatch)
                return std::make_unique<RunningWordCom>(productName());
            // In a batch, a Word that could not be told apart could not be ended either, were
            // it to hang: the batch stops, and none is started again while it lasts.
            m_stopped = true;
            throw failureOf(error);
        }
    }
    std::unique_ptr<WordApplication> attachRunning() override
    {
        const RunningWord found = guarded([&] { return m_engine.findRunning(); });
        // One that did not answer in time is registered as Word all the same.
        return std::make_unique<RunningWordCom>(found.answered ? QString::fromStdWString(found.name)
                                                               : productName());
    }
    void beginBatch() noexcept override
    {
        m_inBatch = true;
        m_stopped = false;
    }
    void endBatch() noexcept override
    {
        m_inBatch = false;
        m_stopped = false;
    }
    void endNow() noexcept override { m_engine.endNow(); }
    void interrupt() noexcept override { m_engine.interrupt(); }
    bool batchStopped() const noexcept override { return m_stopped; }

private:
    Apartment m_apartment;
    // While Word works, the window repaints and can be closed, and nothing else of it runs.
    WordEngine m_engine{WordLimits{}, [] { YieldWhileWaiting(); }};
    bool m_inBatch = false;
    bool m_stopped = false; // no Word is started in this batch any more
};

} // namespace

std::unique_ptr<WordAutomation> makeWordComAutomation()
{
    return std::make_unique<WordComAutomation>();
}

} // namespace docuflume
