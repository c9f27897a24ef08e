// Word behind the automation interface: each operation is one of WordEngine's, with Qt's
// strings and values turned into COM's and a COM error into a Failure that carries its
// description.

#include "convert/com/WordComAutomation.h"

#include "convert/com/ComDispatch.h"
#include "convert/com/WordCalls.h"
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

Failure failureOf(const ComError& error)
{
    return Failure(Failure::AutomationError, QString::fromStdWString(error.description()));
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

// The user's Word, on the window's thread: only its name is read, and it is never quit.
class RunningWordCom final : public WordApplication
{
public:
    explicit RunningWordCom(Dispatch application) : m_application(std::move(application)) {}
    QString name() override
    {
        return guarded([&] { return QString::fromStdWString(word::name(m_application)); });
    }
    std::unique_ptr<WordDocument> open(const QString&) override
    {
        throw Failure(Failure::AutomationError,
                      QStringLiteral("The user's own Word is never used for a conversion."));
    }
    void quit() override {}

private:
    Dispatch m_application;
};

class WordComAutomation final : public WordAutomation
{
public:
    QString productName() const override { return QStringLiteral("Microsoft Word"); }
    std::unique_ptr<WordApplication> create() override
    {
        return guarded([&] { return std::make_unique<WordApplicationCom>(m_engine.create()); });
    }
    std::unique_ptr<WordApplication> attachRunning() override
    {
        return guarded([&] { return std::make_unique<RunningWordCom>(m_engine.attachRunning()); });
    }
    void endNow() noexcept override { m_engine.endNow(); }

private:
    Apartment m_apartment;
    // The running check's calls are made here, on the window's thread.
    BusyRetry m_busy{WordLimits{}.busy};
    // While Word works, the window is served: it repaints, and it can be closed.
    WordEngine m_engine{WordLimits{}, [] { YieldToWindow(); }};
};

} // namespace

std::unique_ptr<WordAutomation> makeWordComAutomation()
{
    return std::make_unique<WordComAutomation>();
}

} // namespace docuflume
