// The "Application Error" box and the trap that numbers a procedure's statements.

#include "BuildConfig.h"
#include "shell/ErrorReport.h"
#include "shell/ErrorTrap.h"
#include "support/RecordingPrompts.h"

#include <QTest>

#include <stdexcept>

using namespace docuflume;
using docuflume::test::RecordingPrompts;

namespace {

const QString kLocation = QStringLiteral("in Tessavoy2021/08/31.AddFolder.GetSubDirectories2016 ");

[[noreturn]] void fail(const QString& description, int number = Failure::InvalidArgument)
{
    throw Failure(number, description);
}

// A procedure without a trap of its own: its failure reaches the caller's trap.
void untrappedHelper(QStringList& trace)
{
    trace << QStringLiteral("helper");
    fail(QStringLiteral("helper failed"));
}

} // namespace

class TestErrorTrap : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportText()
    {
        QCOMPARE(
            ErrorReportText(kLocation, QStringLiteral("Automation error"), 144),
            QStringLiteral("Automation error\r\n"
                           "in Tessavoy2021/08/31.AddFolder.GetSubDirectories2016 at line 144\r\r"
                           "Please email screenshot of this message to ") +
                QStringLiteral(DOCUFLUME_SUPPORT_EMAIL));
        // An empty description leaves the line break first.
        QVERIFY(ErrorReportText(kLocation, QString(), 100).startsWith(QStringLiteral("\r\nin ")));
        QVERIFY(QStringLiteral(DOCUFLUME_SUPPORT_EMAIL).contains(u'@'));
    }

    void boxShape()
    {
        RecordingPrompts prompts;
        ShowErrorReport(prompts, nullptr, kLocation, QStringLiteral("Type mismatch"), 132);
        QCOMPARE(prompts.messages.size(), 1);
        const MessageRequest& box = prompts.messages.first();
        QCOMPARE(box.title, QStringLiteral("Application Error"));
        QCOMPARE(box.icon, MessageIcon::Warning);
        QCOMPARE(box.buttons, MessageButtons::Ok);
        QCOMPARE(box.text, ErrorReportText(kLocation, QStringLiteral("Type mismatch"), 132));
    }

    void reportsTheFailingStatementAndGoesOn()
    {
        RecordingPrompts prompts;
        QStringList trace;
        ErrorTrap line(prompts, nullptr, kLocation);
        QVERIFY(line(100, [&] { trace << QStringLiteral("100"); }));
        QVERIFY(!line(102, [&] { fail(QStringLiteral("Permission denied"), 70); }));
        QVERIFY(line(104, [&] { trace << QStringLiteral("104"); }));

        QCOMPARE(trace, (QStringList{QStringLiteral("100"), QStringLiteral("104")}));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text,
                 ErrorReportText(kLocation, QStringLiteral("Permission denied"), 102));
        // The failure's number is never shown, only its description.
        QVERIFY(!prompts.messages[0].text.contains(QStringLiteral("70")));
    }

    void failureInACalledProcedureCarriesTheCallersNumber()
    {
        RecordingPrompts prompts;
        ErrorTrap line(prompts, nullptr, kLocation);
        QStringList trace;
        line(110, [&] { trace << QStringLiteral("110"); });
        line(112, [&] { untrappedHelper(trace); });
        QCOMPARE(line.line(), 112);
        QCOMPARE(trace, (QStringList{QStringLiteral("110"), QStringLiteral("helper")}));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text,
                 ErrorReportText(kLocation, QStringLiteral("helper failed"), 112));
    }

    void failingConditionEntersTheBranch()
    {
        RecordingPrompts prompts;
        ErrorTrap line(prompts, nullptr, kLocation);
        QVERIFY(line.when(104, [] { return true; }));
        QVERIFY(!line.when(106, [] { return false; }));
        QVERIFY(line.when(108, []() -> bool { fail(QStringLiteral("no such folder"), 76); }));
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages[0].text.contains(QStringLiteral("at line 108\r")));
    }

    void failingStatementInALoopGoesOnWithTheNextPass()
    {
        RecordingPrompts prompts;
        ErrorTrap line(prompts, nullptr, kLocation);
        QList<int> exported;
        for (int i = 1; i <= 5; ++i) {
            line(142, [] {});
            line(144, [&] {
                if (i == 3)
                    fail(QStringLiteral("The document could not be opened."));
                exported << i;
            });
            line(146, [] {});
        }
        QCOMPARE(exported, (QList<int>{1, 2, 4, 5}));
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages[0].text.contains(QStringLiteral("at line 144\r")));
    }

    void valueFallsBackOnFailure()
    {
        RecordingPrompts prompts;
        ErrorTrap line(prompts, nullptr, kLocation);
        QCOMPARE(line.value(
                     110, [] { return 4; }, 0),
                 4);
        QCOMPARE(line.value(
                     110, []() -> int { fail(QStringLiteral("gone")); }, -1),
                 -1);
        QCOMPARE(prompts.messages.size(), 1);
    }

    void otherExceptionsKeepTheirText()
    {
        RecordingPrompts prompts;
        ErrorTrap line(prompts, nullptr, kLocation);
        line(100, [] { throw std::runtime_error("disk on fire"); });
        line(102, [] { throw 42; });
        QCOMPARE(prompts.messages.size(), 2);
        QVERIFY(prompts.messages[0].text.startsWith(QStringLiteral("disk on fire\r\n")));
        QVERIFY(prompts.messages[1].text.startsWith(QStringLiteral("Unexpected failure\r\n")));
    }

    void handlerDecidesBeforeTheBox()
    {
        RecordingPrompts prompts;
        ErrorTrap line(prompts, nullptr, kLocation);
        QList<int> seen;
        line.setHandler([&](const Failure& failure, int at) {
            seen << at;
            if (failure.number() == Failure::BufferTooSmall)
                return ErrorTrap::Outcome::Leave;
            if (failure.number() == Failure::PermissionDenied)
                return ErrorTrap::Outcome::Resume;
            return ErrorTrap::Outcome::Report;
        });
        QStringList trace;
        line(110, [] { fail(QStringLiteral("skipped quietly"), Failure::PermissionDenied); });
        line(111, [] { fail(QStringLiteral("reported")); });
        line(112, [] { fail(QStringLiteral("too many"), Failure::BufferTooSmall); });
        QVERIFY(line.left());
        QVERIFY(!line(114, [&] { trace << QStringLiteral("114"); }));
        QVERIFY(!line.when(116, [] { return true; }));
        QCOMPARE(line.value(
                     118, [] { return 1; }, 0),
                 0);

        QCOMPARE(seen, (QList<int>{110, 111, 112}));
        QVERIFY(trace.isEmpty());
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages[0].text.startsWith(QStringLiteral("reported\r\n")));
    }
};

QTEST_GUILESS_MAIN(TestErrorTrap)
#include "tst_errortrap.moc"
