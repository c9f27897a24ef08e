#pragma once

#include "convert/WordAutomation.h"

#include <QMap>
#include <QStringList>

#include <functional>

namespace docuflume::test {

// A word processor that only records: every call, with its arguments, in order. It can be
// told to fail a step (the n-th time it comes), to report a running instance, or to be
// missing altogether.
class RecordingAutomation final : public WordAutomation
{
public:
    struct Save
    {
        QList<NamedArgument> arguments;
        QString fileName() const;
        int fileFormat() const;
    };

    QString productName() const override { return QStringLiteral("Microsoft Word"); }
    std::unique_ptr<WordApplication> create() override;
    std::unique_ptr<WordApplication> attachRunning() override;
    void beginBatch() noexcept override
    {
        inBatch = true;
        stopped = false;
    }
    void endBatch() noexcept override { inBatch = false; }
    bool batchStopped() const noexcept override { return stopped; }
    int aheadCapacity() const noexcept override { return inBatch ? capacity : 0; }
    void planAhead(const QList<PlannedExport>& next) noexcept override
    {
        plans << next;
        plannedInBatch = plannedInBatch && inBatch;
    }

    // Makes the `occurrence`-th call of `step` ("create", "open", "saveAs", "quit",
    // "attach", "name") fail; 0 makes every one fail.
    void failAt(const QString& step, int occurrence = 0);

    // Every call as "create", "open <path>", "saveAs <fileName> <FileFormat>", "quit",
    // "attach", "name".
    QStringList calls;
    QList<Save> saves;
    QStringList opened; // the paths opened, in order
    int liveInstances = 0;
    bool inBatch = false; // between beginBatch() and endBatch()
    // How many coming documents it asks to hear of, as an engine converting ahead does.
    int capacity = 0;
    QList<QList<PlannedExport>> plans; // every plan heard, in order
    bool plannedInBatch = true;        // no plan came outside a batch

    bool missing = false;    // create() fails: no word processor installed
    bool stopsBatch = false; // create() fails, and the engine stops the batch
    bool stopped = false;
    QString runningName; // non-empty: attachRunning() finds one with this name
    std::function<void(const QString& path)> onOpen; // runs inside open(), before it returns

private:
    friend class RecordingApplication;
    friend class RecordingDocument;
    void step(const QString& name, const QString& call);

    QMap<QString, int> m_counts;
    QMap<QString, QList<int>> m_failures;
};

} // namespace docuflume::test
