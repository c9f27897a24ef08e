#pragma once

#include "support/TestPlatform.h"
#include "ui/Form1.h"

#include <QObject>

#include <memory>

namespace docuflume::test {

// Base of the tests that drive the real window on scripted services, made afresh for
// every test function.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    // With `load`, start-up runs as in the program, and what it recorded is forgotten.
    void makeWindow(bool load = true);
    void dropWindow();

    std::unique_ptr<TestPlatform> m_platform;
    std::unique_ptr<Form1> m_form;
};

} // namespace docuflume::test
