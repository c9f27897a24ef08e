#pragma once

// Services for the tools that build the real window without anybody in front of it: no
// dialog ever waits for an answer, and the word processor is a stand-in that starts at once.

#include "convert/WordAutomation.h"
#include "shell/Failure.h"
#include "shell/Prompts.h"

namespace docuflume::tools {

class QuietPrompts final : public Prompts
{
public:
    MessageAnswer message(QWidget*, const MessageRequest& request) override
    {
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    QString input(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QStringList openFiles(QWidget*, const OpenFilesRequest&) override { return {}; }
    QString pickFolder(QWidget*, const QString&, const QString&) override { return {}; }
    bool openWithDesktop(const QUrl&) override { return false; }
};

class IdleAutomation final : public WordAutomation
{
    class Instance final : public WordApplication
    {
    public:
        QString name() override { return QStringLiteral("Idle"); }
        std::unique_ptr<WordDocument> open(const QString&) override
        {
            throw Failure(Failure::AutomationError, QStringLiteral("No documents here."));
        }
        void quit() override {}
    };

public:
    QString productName() const override { return QStringLiteral("Idle"); }
    std::unique_ptr<WordApplication> create() override { return std::make_unique<Instance>(); }
    std::unique_ptr<WordApplication> attachRunning() override
    {
        throw Failure(Failure::AutomationError, QStringLiteral("Not running."));
    }
};

} // namespace docuflume::tools
