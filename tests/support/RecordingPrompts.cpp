#include "support/RecordingPrompts.h"

#include <QTest>

namespace docuflume::test {

void RecordingPrompts::failIfAsked()
{
    if (std::optional<Failure> failure = std::exchange(failNext, std::nullopt))
        throw *failure;
}

MessageAnswer RecordingPrompts::message(QWidget*, const MessageRequest& request)
{
    messages.append(request);
    failIfAsked();
    if (onMessage)
        onMessage(request);
    if (request.buttons != MessageButtons::YesNo)
        return MessageAnswer::Ok;
    if (!messageAnswers.isEmpty())
        return messageAnswers.takeFirst();
    QTest::qFail(qPrintable(QStringLiteral("question not scripted: ") + request.text.simplified()),
                 __FILE__, __LINE__);
    return MessageAnswer::No;
}

QString RecordingPrompts::input(QWidget*, const QString& prompt, const QString& title,
                                const QString& proposed)
{
    inputs.append({prompt, title, proposed});
    failIfAsked();
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}

QStringList RecordingPrompts::openFiles(QWidget*, const OpenFilesRequest& request)
{
    fileDialogs.append(request);
    failIfAsked();
    return fileAnswers.isEmpty() ? QStringList() : fileAnswers.takeFirst();
}

QString RecordingPrompts::pickFolder(QWidget*, const QString& title, const QString& initialFolder)
{
    folderPicks.append({title, initialFolder});
    failIfAsked();
    return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
}

bool RecordingPrompts::openWithDesktop(const QUrl& url)
{
    openedUrls.append(url);
    return true;
}

} // namespace docuflume::test
