#include "support/WindowTest.h"

#include "doclist/DocumentList.h"

#include <QTest>

namespace docuflume::test {

void WindowTest::makeWindow(bool load, const QString& programFolder)
{
    m_platform = std::make_unique<TestPlatform>();
    Platform services = m_platform->services();
    services.programFolder = programFolder;
    m_form = std::make_unique<Form1>(services);
    if (!load)
        return;
    m_form->Form_Load();
    m_platform->prompts.messages.clear();
    m_platform->automation.calls.clear();
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

void WindowTest::dropWindow()
{
    m_form.reset();
    m_platform.reset();
}

} // namespace docuflume::test
