// The output flavour and the output folder: every change is stored at once.

#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "shell/ErrorTrap.h"
#include "shell/FolderPicker.h"
#include "shell/PathHelpers.h"
#include "ui/Form1.h"

#include <QLineEdit>
#include <QRadioButton>

namespace docuflume {
// Either option's click stores both buttons.
void Form1::Option1_Click()
{
    WriteSettingOrWarn(m_platform.settings, setting::Option1, BooleanText(Option1->isChecked()));
    WriteSettingOrWarn(m_platform.settings, setting::Option2, BooleanText(Option2->isChecked()));
}

void Form1::Option2_Click()
{
    Option1_Click();
}

void Form1::Text1_Change()
{
    WriteSettingOrWarn(m_platform.settings, setting::OutputFolder, Text1->text());
}

void Form1::PushButton7_Click()
{
    ErrorTrap line = trap();
    SettingsStore& store = m_platform.settings;
    QString picked;
    line(100, [&] { m_lastFolderDot = ReadSetting(store, setting::LastFolderDot); });
    line(100, [&] {
        picked = BrowseForFolder(m_platform.prompts, this, QStringLiteral("Please select folder:"),
                                 m_lastFolderDot);
    });
    if (line.when(102, [&] { return picked.isEmpty(); }))
        return;
    line(104, [&] {
        m_lastFolderDot = picked;
        WriteSetting(store, setting::LastFolderDot, picked);
    });
    // A root keeps its one separator; any other folder gets one.
    if (line.when(104, [&] { return !picked.endsWith(kSeparator); }))
        line(106, [&] { Text1->setText(picked + kSeparator); });
    else
        line(108, [&] { Text1->setText(picked); });
}

} // namespace docuflume
