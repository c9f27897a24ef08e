#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include <memory>

namespace docuflume {

// One argument of a call by name, passed under its name.
struct NamedArgument
{
    QString name;
    QVariant value;
};

class WordDocument
{
public:
    virtual ~WordDocument() = default;
    virtual void saveAs(const QList<NamedArgument>& arguments) = 0;
};

// A word-processor instance. Dropping the object releases it; it does not end the instance.
class WordApplication
{
public:
    virtual ~WordApplication() = default;
    virtual QString name() = 0;
    virtual std::unique_ptr<WordDocument> open(const QString& path) = 0;
    virtual void quit() = 0;
};

// A document a batch run is about to convert, as the run sees it now: the entry's text,
// the page it will write and the save format of the flavour chosen.
struct PlannedExport
{
    QString source;
    QString outputPath;
    int fileFormat = 0;
    bool operator==(const PlannedExport&) const = default;
};

// The word processor's automation layer. Every operation throws a Failure when it fails.
class WordAutomation
{
public:
    virtual ~WordAutomation() = default;
    // The name a running instance of this word processor answers with.
    virtual QString productName() const = 0;
    // Starts a new instance of our own.
    virtual std::unique_ptr<WordApplication> create() = 0;
    // The instance the user is running, if any; throws when none is running.
    virtual std::unique_ptr<WordApplication> attachRunning() = 0;

    // A batch run is converting one document after another: an engine may ready the next
    // instance ahead while one converts. When the batch ends, nothing readied is kept.
    virtual void beginBatch() noexcept {}
    virtual void endBatch() noexcept {}
    // The program ends at once, in the middle of a batch: every instance still running ends
    // now, and what it leaves goes with it.
    virtual void endNow() noexcept { endBatch(); }
    // From any thread, while the program's own thread may be in the middle of a call: every
    // instance of ours is stopped now, and none started later runs, so that the call under way
    // fails soon and the run can end in its ordinary way.
    virtual void interrupt() noexcept {}

    // Within a batch, an engine may convert documents ahead of their turn, each in a fresh
    // instance of its own, and keep the results aside. How many coming documents it wants
    // to hear of (0: it converts each at its turn).
    virtual int aheadCapacity() const noexcept { return 0; }
    // The documents the run converts next, from the one at its turn on. The run still makes
    // every call for each at its turn; a result made ahead serves that turn only when it
    // was made for exactly the same entry, file, page and flavour.
    virtual void planAhead(const QList<PlannedExport>& next) noexcept { Q_UNUSED(next); }

    // Within a batch: the engine cannot go on (it started a word processor it could not
    // tell from the user's, so could not end one that hangs), and has said so in the
    // failure of the document at its turn. The run stops after that document.
    virtual bool batchStopped() const noexcept { return false; }
};

// Holds a batch open for as long as it lives.
class BatchScope
{
public:
    explicit BatchScope(WordAutomation* word) : m_word(word)
    {
        if (m_word)
            m_word->beginBatch();
    }
    ~BatchScope()
    {
        if (m_word)
            m_word->endBatch();
    }
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

private:
    WordAutomation* m_word;
};

} // namespace docuflume
