#pragma once

#include "shell/Prompts.h"

namespace docuflume {

// The real dialogs of the desktop.
class QtPrompts final : public Prompts
{
public:
    MessageAnswer message(QWidget* owner, const MessageRequest& request) override;
    QString input(QWidget* owner, const QString& prompt, const QString& title,
                  const QString& proposed) override;
    QStringList openFiles(QWidget* owner, const OpenFilesRequest& request) override;
    QString pickFolder(QWidget* owner, const QString& title, const QString& initialFolder) override;
    bool openWithDesktop(const QUrl& url) override;
};

} // namespace docuflume
