#pragma once

#include "support/TestPlatform.h"
#include "ui/Form1.h"

#include <QObject>
#include <QStringList>

#include <memory>

namespace docuflume::test {

// Base of the tests that drive the real window on scripted services, made afresh for
// every test function.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    // With `load`, start-up runs as in the program, and what it recorded is forgotten. The
    // files beside the program are looked for in `programFolder` when one is given.
    void makeWindow(bool load = true, const QString& programFolder = QString());
    void dropWindow();
    // Shows the window and waits until it is on the screen.
    void showWindow();
    // The list's rows, first to last.
    QStringList rows() const;

    std::unique_ptr<TestPlatform> m_platform;
    std::unique_ptr<Form1> m_form;
};

} // namespace docuflume::test
