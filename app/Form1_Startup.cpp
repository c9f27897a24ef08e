// Start-up and end of the main window.

#include "BuildConfig.h"
#include "app/ApplicationTitle.h"

#include "app/Settings.h"
#include "convert/WordAutomation.h"
#include "convert/WordInstance.h"
#include "doclist/DocumentList.h"
#include "shell/Chance.h"
#include "shell/ErrorTrap.h"
#include "shell/PathHelpers.h"
#include "ui/AppIcon.h"
#include "ui/Design.h"
#include "ui/Form1.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <QUrl>

#include <cstdlib>

namespace docuflume {
namespace {

// Selects or clears an option button by code; clearing the selected one of a group is
// otherwise refused.
void setOptionValue(QRadioButton* option, bool value)
{
    if (value) {
        option->setChecked(true);
        return;
    }
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

} // namespace

void Form1::Form_Load()
{
    ErrorTrap line = trap();
    SettingsStore& store = m_platform.settings;

    line(100, [&] { ApplyWindowSkin(); });
    const QString hand = programFile(QStringLiteral("HAND-M.CUR"));
    if (line.when(104, [&] { return PathExists(hand); })) {
        line(106, [&] {
            const QPixmap image(hand);
            if (image.isNull())
                throw Failure(481, QStringLiteral("Invalid picture"));
            setMouseIcon(QCursor(image));
        });
    }
    line(108, [&] { OpenHomePageByChance(); });
    line(126, [&] { setWindowTitle(design::kProductName); });
    line(126, [&] { setWindowIcon(ApplicationIcon()); });
    line(126, [&] { SetApplicationTitle(); });
    line(128, [&] { m_documents->AddColumnHeader(QStringLiteral(" Word File(s)")); });
    line(130, [&] {
        ListView1->horizontalHeader()->resizeSection(0, design::pixels(design::kColumnWidth));
    });
    // The restored values go through the controls' own handlers, which write them back.
    line(132, [&] { setOptionValue(Option1, ToBoolean(ReadSetting(store, setting::Option1))); });
    line(134, [&] { setOptionValue(Option2, ToBoolean(ReadSetting(store, setting::Option2))); });
    line(136, [&] { Text1->setText(ReadSetting(store, setting::OutputFolder)); });
    line(138, [&] {
        if (!CheckWordInstalled(m_platform.automation, m_platform.prompts, this,
                                m_applicationTitle))
            m_endRequested = true;
    });
}

void Form1::Form_Unload()
{
    // Whatever the engine runs for the batch ends now, with its staging.
    if (Converting && m_platform.automation)
        m_platform.automation->endNow();
    if (m_platform.endProgram) {
        m_platform.endProgram();
        return;
    }
    // In the middle of a run, a scan or the expansion of a dropped folder nothing more of
    // it may happen: the program ends here. The settings are on disk already, and the word
    // processor's instances die with the program.
    if (Converting || m_mousePointer == PointerHourglass || m_expandingDrop)
        std::_Exit(0);
    QCoreApplication::quit();
}

void Form1::SetApplicationTitle()
{
    m_applicationTitle = ApplicationTitleFor(design::kProductName);
}

void Form1::OpenHomePageByChance()
{
    if (!m_platform.clock || !m_platform.random)
        return;
    m_platform.random->seed(quint32(m_platform.clock->secondsSinceMidnight()));
    const int draw = int(m_platform.random->next() * 100) + 1;
    if (draw == 7)
        m_platform.prompts.openWithDesktop(QUrl(QStringLiteral(DOCUFLUME_HOME_PAGE)));
}

} // namespace docuflume
