#include "support/RecordingPrompts.h"

namespace docuflume::test {

MessageAnswer RecordingPrompts::message(QWidget*, const MessageRequest& request)
{
    messages.append(request);
    if (!messageAnswers.isEmpty()) return messageAnswers.dequeue();
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

QString RecordingPrompts::input(QWidget*, const QString& prompt, const QString& title,
                                const QString& proposed)
{
    inputs.append({prompt, title, proposed});
    return inputAnswers.isEmpty() ? QString() : inputAnswers.dequeue();
}

QStringList RecordingPrompts::openFiles(QWidget*, const OpenFilesRequest& request)
{
    fileDialogs.append(request);
    return fileAnswers.isEmpty() ? QStringList() : fileAnswers.dequeue();
}

QString RecordingPrompts::pickFolder(QWidget*, const QString& title, const QString& initialFolder)
{
    folderPicks.append({title, initialFolder});
    return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
}

bool RecordingPrompts::openWithDesktop(const QUrl& url)
{
    openedUrls.append(url);
    return true;
}

} // namespace docuflume::test
