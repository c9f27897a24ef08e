#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace docuflume {

enum class MessageIcon { None, Warning };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest
{
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

struct OpenFilesRequest
{
    QString title;
    QStringList filters;    // "Name (*.pattern)" entries, in the order shown
    QString selectedFilter; // the entry selected when the dialog opens
};

// Everything that talks to the user in a modal way goes through here, so that tests can
// script the answers and the real window runs headless.
class Prompts
{
public:
    virtual ~Prompts() = default;

    virtual MessageAnswer message(QWidget* owner, const MessageRequest& request) = 0;
    // The typed text, or the empty string when the user cancelled.
    virtual QString input(QWidget* owner, const QString& prompt, const QString& title,
                          const QString& proposed) = 0;
    // The picked files with their full paths; empty when the user cancelled.
    virtual QStringList openFiles(QWidget* owner, const OpenFilesRequest& request) = 0;
    // The picked folder as the dialog gives it; empty when the user cancelled.
    virtual QString pickFolder(QWidget* owner, const QString& title,
                               const QString& initialFolder) = 0;
    // Hands a folder or web address to the desktop; never runs a command line.
    virtual bool openWithDesktop(const QUrl& url) = 0;
};

} // namespace docuflume
