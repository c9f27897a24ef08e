#include "support/RecordingPrompts.h"

#include <QTest>

namespace docuflume::test {

MessageAnswer RecordingPrompts::message(QWidget*, const MessageRequest& request)
{
    messages.append(request);
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
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}

QStringList RecordingPrompts::openFiles(QWidget*, const OpenFilesRequest& request)
{
    fileDialogs.append(request);
    return fileAnswers.isEmpty() ? QStringList() : fileAnswers.takeFirst();
}

QString RecordingPrompts::pickFolder(QWidget*, const QString& title, const QString& initialFolder)
{
    folderPicks.append({title, initialFolder});
    return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
}

bool RecordingPrompts::openWithDesktop(const QUrl& url)
{
    openedUrls.append(url);
    return true;
}

} // namespace docuflume::test
