// Word behind the automation interface: each operation is one of the calls of WordCalls.h,
// with Qt's strings and values turned into COM's and a COM error into a Failure that
// carries Word's own description.

#include "convert/com/WordComAutomation.h"

#include "convert/com/ComDispatch.h"
#include "convert/com/WordCalls.h"
#include "shell/Failure.h"

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
    explicit WordDocumentCom(Dispatch document) : m_document(std::move(document)) {}
    void saveAs(const QList<NamedArgument>& arguments) override
    {
        std::vector<NamedValue> named;
        for (const NamedArgument& argument : arguments)
            named.push_back({wide(argument.name), variantOf(argument.value)});
        guarded([&] { word::saveAs(m_document, named); });
    }

private:
    Dispatch m_document;
};

class WordApplicationCom final : public WordApplication
{
public:
    explicit WordApplicationCom(Dispatch application) : m_application(std::move(application)) {}
    QString name() override
    {
        return guarded([&] { return QString::fromStdWString(word::name(m_application)); });
    }
    std::unique_ptr<WordDocument> open(const QString& path) override
    {
        return guarded([&] {
            return std::make_unique<WordDocumentCom>(word::open(m_application, wide(path)));
        });
    }
    void quit() override
    {
        guarded([&] { word::quit(m_application); });
    }

private:
    Dispatch m_application;
};

class WordComAutomation final : public WordAutomation
{
public:
    QString productName() const override { return QStringLiteral("Microsoft Word"); }
    std::unique_ptr<WordApplication> create() override
    {
        return guarded([] { return std::make_unique<WordApplicationCom>(word::start()); });
    }
    std::unique_ptr<WordApplication> attachRunning() override
    {
        return guarded([] { return std::make_unique<WordApplicationCom>(word::running()); });
    }

private:
    Apartment m_apartment;
};

} // namespace

std::unique_ptr<WordAutomation> makeWordComAutomation()
{
    return std::make_unique<WordComAutomation>();
}

} // namespace docuflume
