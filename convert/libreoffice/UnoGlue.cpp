#include "convert/libreoffice/UnoGlue.h"

#include "convert/libreoffice/OfficeProcess.h"
#include "shell/Failure.h"

#include <QFileInfo>
#include <QUrl>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionApprove.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <csignal>
#include <thread>

namespace docuflume::office {

Q_LOGGING_CATEGORY(lcConvert, "docuflume.convert", QtWarningMsg)

namespace {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using rtl::OUString;

class Decliner final : public cppu::WeakImplHelper1<css::task::XInteractionHandler>
{
public:
    explicit Decliner(std::shared_ptr<QuestionsAsked> asked) : m_asked(std::move(asked)) {}

    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override
    {
        const Any what = request->getRequest();
        // Every password request of the office's (for its own formats and for Word's) is
        // named so.
        if (toQ(what.getValueTypeName()).contains(QLatin1String("PasswordRequest")))
            m_asked->password = true;
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

private:
    const std::shared_ptr<QuestionsAsked> m_asked;
};

// The UNO runtime of this process, bootstrapped once against the installation's types.
Reference<css::uno::XComponentContext> localContext(const Installation& installation)
{
    // Made once, by whichever thread comes first; a failure is tried again next time.
    static const Reference<css::uno::XComponentContext> context = [&] {
        // The bridge writes to offices that may have died: such a write must fail the call
        // (EPIPE), not end the program, so the signal is ignored in the whole process.
        ::signal(SIGPIPE, SIG_IGN);
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

Reference<css::uno::XComponentContext> connect(const Installation& installation,
                                               OfficeProcess& process)
{
    const Reference<css::bridge::XUnoUrlResolver> resolver =
        css::bridge::UnoUrlResolver::create(localContext(installation));
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

} // namespace

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

css::uno::Sequence<css::beans::PropertyValue>
properties(const std::vector<css::beans::PropertyValue>& list)
{
    return css::uno::Sequence<css::beans::PropertyValue>(list.data(), sal_Int32(list.size()));
}

OUString fileUrl(const QString& path)
{
    return toOU(
        QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded()));
}

DecliningHandler makeDecliningHandler()
{
    auto asked = std::make_shared<QuestionsAsked>();
    return {new Decliner(asked), asked};
}

RemoteOffice reachOffice(const Installation& installation, OfficeProcess& process, bool warm)
{
    try {
        const auto context = connect(installation, process);
        const auto desktop = css::frame::Desktop::create(context);
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
        return {context, desktop};
    } catch (const css::uno::Exception& error) {
        throw Failure(Failure::AutomationError,
                      QStringLiteral("LibreOffice could not be reached: ") + toQ(error.Message));
    }
}

} // namespace docuflume::office
