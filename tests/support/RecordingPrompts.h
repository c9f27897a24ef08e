#pragma once

#include "shell/Failure.h"
#include "shell/Prompts.h"

#include <QList>

#include <functional>
#include <optional>

namespace docuflume::test {

// Records every prompt the program shows and gives the scripted answers in turn. A question
// (a Yes/No box) the test has not scripted fails the test, and is answered No; an Ok box asks
// nothing and needs no script. A dialog without a script is cancelled.
class RecordingPrompts final : public Prompts
{
public:
    struct Input
    {
        QString prompt;
        QString title;
        QString proposed;
    };
    struct FolderPick
    {
        QString title;
        QString initialFolder;
    };

    MessageAnswer message(QWidget* owner, const MessageRequest& request) override;
    QString input(QWidget* owner, const QString& prompt, const QString& title,
                  const QString& proposed) override;
    QStringList openFiles(QWidget* owner, const OpenFilesRequest& request) override;
    QString pickFolder(QWidget* owner, const QString& title, const QString& initialFolder) override;
    bool openWithDesktop(const QUrl& url) override;

    QList<MessageRequest> messages;
    QList<Input> inputs;
    QList<OpenFilesRequest> fileDialogs;
    QList<FolderPick> folderPicks;
    QList<QUrl> openedUrls;

    // Runs as each message box is shown, before it is answered.
    std::function<void(const MessageRequest&)> onMessage;

    // The next prompt of any kind fails with this, as one the desktop cannot show would.
    std::optional<Failure> failNext;

    QList<MessageAnswer> messageAnswers; // for the questions only
    QList<QString> inputAnswers;
    QList<QStringList> fileAnswers;
    QList<QString> folderAnswers;

private:
    void failIfAsked();
};

} // namespace docuflume::test
