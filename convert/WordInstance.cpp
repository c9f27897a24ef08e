#include "convert/WordInstance.h"

#include "convert/WordAutomation.h"
#include "shell/Failure.h"
#include "shell/Prompts.h"

namespace docuflume {
namespace {

const QString kCouldNotCreate =
    QStringLiteral("Error 842001. A normal instance of Word could not be created.");
const QString kNotInstalled =
    kCouldNotCreate +
    QStringLiteral(
        "\r\n\r\n"
        "1. Please make sure Word is installed on this computer.\r\n\r\n"
        "2. Please open Word normally and make sure a blank document opens immediately without "
        "any interrupting window (such as an Word file recovery window).\r\n\r\n"
        "3. Please make sure that when you double-click on a DOC or DOCX file that Word opens "
        "normally without any interrupting messages.\r\n\r\n"
        "4. All versions of Word are supported by this software except for the rare Word Starter "
        "and Student editions.");

const QString kMayBeOpen = QStringLiteral(
    "Word may be open. It is recommended that you close Word first. Use Ctrl+Alt+Del > Task "
    "Manager > WINWORD.EXE if necessary.\r\n\r\nWould you like to proceed anyway?");

} // namespace

bool CheckWordInstalled(WordAutomation* word, Prompts& prompts, QWidget* owner,
                        const QString& title)
{
    std::unique_ptr<WordApplication> instance;
    QString message = kNotInstalled;
    try {
        if (word)
            instance = word->create();
    } catch (const Failure& failure) {
        // Installed, but missing a part that it needs: say which, instead of the general
        // advice.
        if (failure.number() == Failure::IncompleteInstallation)
            message = kCouldNotCreate + QStringLiteral("\r\n\r\n") + failure.description();
    } catch (...) {
        // Not startable: said below.
    }
    if (!instance) {
        prompts.message(owner, {message, title, MessageIcon::None, MessageButtons::Ok});
        return false;
    }
    try {
        instance->quit();
    } catch (...) {
        // The test is passed; an instance that will not quit is not the user's concern here.
    }
    return true;
}

bool IsWordRunning(WordAutomation* word)
{
    if (!word)
        return false;
    try {
        const auto running = word->attachRunning();
        return running && running->name() == word->productName();
    } catch (...) {
        return false;
    }
}

bool WarnIfWordOpen(WordAutomation* word, Prompts& prompts, QWidget* owner, const QString& title)
{
    if (!IsWordRunning(word))
        return false;
    const MessageAnswer answer =
        prompts.message(owner, {kMayBeOpen, title, MessageIcon::None, MessageButtons::YesNo});
    return answer != MessageAnswer::Yes;
}

} // namespace docuflume
