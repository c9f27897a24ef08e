#include "support/WindowTest.h"

#include "doclist/DocumentList.h"

#include <QPushButton>
#include <QTest>

namespace docuflume::test {

void WindowTest::makeWindow(bool load, const QString& programFolder)
{
    dropWindow();
    buildWindow(programFolder, {});
    if (!load)
        return;
    m_form->Form_Load();
    m_platform->prompts.messages.clear();
    m_platform->automation.calls.clear();
}

void WindowTest::startWindow(const QString& programFolder, std::function<void()> endProgram)
{
    m_form.reset(); // one window at a time
    buildWindow(programFolder, std::move(endProgram));
    m_form->Form_Load();
}

void WindowTest::buildWindow(const QString& programFolder, std::function<void()> endProgram)
{
    if (!m_platform)
        m_platform = std::make_unique<TestPlatform>();
    Platform services = m_platform->services();
    services.programFolder = programFolder;
    services.endProgram = std::move(endProgram);
    m_form = std::make_unique<Form1>(services);
}

void WindowTest::showWindow()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

QStringList WindowTest::rows() const
{
    QStringList result;
    for (int i = 1; i <= m_form->documents().DocumentCount(); ++i)
        result << m_form->documents().DocumentText(i);
    return result;
}

void WindowTest::addAllInFolder(const QString& extension, const QString& folder)
{
    m_platform->prompts.inputAnswers = {extension};
    m_platform->prompts.folderAnswers = {folder};
    m_form->findChild<QPushButton*>(QStringLiteral("PushButton4"))->click();
}

void WindowTest::dropWindow()
{
    m_form.reset();
    m_platform.reset();
}

} // namespace docuflume::test
