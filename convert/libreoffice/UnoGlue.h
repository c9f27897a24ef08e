#pragma once

// What the engine's parts share of UNO: string and property conversions, the handler that
// answers the office's questions, and reaching a started office. Only the engine's own
// files include this.

#include <QLoggingCategory>
#include <QString>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

namespace docuflume::office {

Q_DECLARE_LOGGING_CATEGORY(lcConvert)

namespace css = com::sun::star;

struct Installation;
class OfficeProcess;

// How long an office may take to start and to answer its first call.
inline constexpr auto kStartLimit = std::chrono::seconds(60);

rtl::OUString toOU(const QString& text);
QString toQ(const rtl::OUString& text);
css::beans::PropertyValue property(const char* name, const css::uno::Any& value);
css::uno::Sequence<css::beans::PropertyValue>
properties(const std::vector<css::beans::PropertyValue>& list);
rtl::OUString fileUrl(const QString& path);

// What the office asked while loading a document.
struct QuestionsAsked
{
    std::atomic<bool> password{false}; // the document is encrypted
};

// Answers every question the office would ask the user: warnings are passed, anything else
// (a password, a repair, a format to choose) is declined, so the load fails at once.
struct DecliningHandler
{
    css::uno::Reference<css::task::XInteractionHandler> handler;
    std::shared_ptr<QuestionsAsked> asked;
};
DecliningHandler makeDecliningHandler();

// A started office as this program reaches it: its component context, which makes its
// services, and its desktop.
struct RemoteOffice
{
    css::uno::Reference<css::uno::XComponentContext> context;
    css::uno::Reference<css::frame::XDesktop2> desktop;
};

// Connects to the office `process` runs, once it listens, and returns it. With
// `warm`, the word processor is loaded too, so that the first document opens as fast as
// any. Throws a Failure when the office ends or does not listen within kStartLimit; a
// brand-new profile's request to be started again is met once.
RemoteOffice reachOffice(const Installation& installation, OfficeProcess& process, bool warm);

} // namespace docuflume::office
