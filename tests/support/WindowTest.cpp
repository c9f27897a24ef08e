#include "support/WindowTest.h"

namespace docuflume::test {

void WindowTest::makeWindow(bool load)
{
    m_platform = std::make_unique<TestPlatform>();
    m_form = std::make_unique<Form1>(m_platform->services());
    if (!load)
        return;
    m_form->Form_Load();
    m_platform->prompts.messages.clear();
    m_platform->automation.calls.clear();
}

void WindowTest::dropWindow()
{
    m_form.reset();
    m_platform.reset();
}

} // namespace docuflume::test
