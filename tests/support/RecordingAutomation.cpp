#include "support/RecordingAutomation.h"

#include "shell/Failure.h"

namespace docuflume::test {

class RecordingDocument final : public WordDocument
{
public:
    explicit RecordingDocument(RecordingAutomation& owner) : m_owner(owner) {}

    void saveAs(const QList<NamedArgument>& arguments) override
    {
        RecordingAutomation::Save save{arguments};
        m_owner.step(QStringLiteral("saveAs"),
                     QStringLiteral("saveAs %1 %2").arg(save.fileName()).arg(save.fileFormat()));
        m_owner.saves.append(save);
    }

private:
    RecordingAutomation& m_owner;
};

class RecordingApplication final : public WordApplication
{
public:
    RecordingApplication(RecordingAutomation& owner, bool ours) : m_owner(owner), m_ours(ours)
    {
        if (m_ours)
            ++m_owner.liveInstances;
    }

    ~RecordingApplication() override
    {
        // Releasing does not end an instance: only quit does.
    }

    QString name() override
    {
        m_owner.step(QStringLiteral("name"), QStringLiteral("name"));
        return m_ours ? m_owner.productName() : m_owner.runningName;
    }

    std::unique_ptr<WordDocument> open(const QString& path) override
    {
        m_owner.step(QStringLiteral("open"), QStringLiteral("open ") + path);
        m_owner.opened.append(path);
        if (m_owner.onOpen)
            m_owner.onOpen(path);
        return std::make_unique<RecordingDocument>(m_owner);
    }

    void quit() override
    {
        m_owner.step(QStringLiteral("quit"), QStringLiteral("quit"));
        if (m_ours && !m_quit) {
            m_quit = true;
            --m_owner.liveInstances;
        }
    }

private:
    RecordingAutomation& m_owner;
    bool m_ours;
    bool m_quit = false;
};

QString RecordingAutomation::Save::fileName() const
{
    return arguments.isEmpty() ? QString() : arguments.first().value.toString();
}

int RecordingAutomation::Save::fileFormat() const
{
    return arguments.size() < 2 ? -1 : arguments.at(1).value.toInt();
}

std::unique_ptr<WordApplication> RecordingAutomation::create()
{
    step(QStringLiteral("create"), QStringLiteral("create"));
    if (missing)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("ActiveX component can't create object"));
    if (stopsBatch) {
        stopped = inBatch;
        throw Failure(Failure::AutomationError, QStringLiteral("The conversion was stopped."));
    }
    return std::make_unique<RecordingApplication>(*this, true);
}

std::unique_ptr<WordApplication> RecordingAutomation::attachRunning()
{
    step(QStringLiteral("attach"), QStringLiteral("attach"));
    if (runningName.isEmpty())
        throw Failure(Failure::AutomationError,
                      QStringLiteral("ActiveX component can't create object"));
    return std::make_unique<RecordingApplication>(*this, false);
}

void RecordingAutomation::failAt(const QString& step, int occurrence)
{
    m_failures[step].append(occurrence);
}

void RecordingAutomation::step(const QString& name, const QString& call)
{
    calls.append(call);
    const int count = ++m_counts[name];
    const QList<int> failing = m_failures.value(name);
    if (failing.contains(0) || failing.contains(count))
        throw Failure(Failure::AutomationError,
                      QStringLiteral("%1 failed (call %2)").arg(name).arg(count));
}

} // namespace docuflume::test
