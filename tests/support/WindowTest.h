#pragma once

#include "support/TestPlatform.h"
#include "ui/Form1.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace docuflume::test {

// How the error box names the statement of a handler of the window that failed, exactly
// as users read it and quote it to support.
inline QString handlerPlace(const char* handler, int line)
{
    return QStringLiteral("in Quarnel2021/08/31.Form1.%1 at line %2\r")
        .arg(QLatin1String(handler))
        .arg(line);
}

// Base of the tests that drive the real window on scripted services, made afresh for
// every test function.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    // On fresh services; with `load`, start-up runs as in the program and what it recorded is
    // forgotten. The files beside the program are looked for in `programFolder` if given.
    void makeWindow(bool load = true, const QString& programFolder = QString());
    // Start-up as in the program on the services scripted so far, keeping what it recorded;
    // `endProgram` stands in for the program's end.
    void startWindow(const QString& programFolder, std::function<void()> endProgram = {});
    void dropWindow();
    // Shows the window and waits until it is on the screen.
    void showWindow();
    // The list's rows, first to last.
    QStringList rows() const;
    // "Add All Word Files In Folder", with `extension` typed into its first prompt and
    // `folder` picked in the second; an empty answer cancels.
    void addAllInFolder(const QString& extension, const QString& folder);

    std::unique_ptr<TestPlatform> m_platform;
    std::unique_ptr<Form1> m_form;

private:
    void buildWindow(const QString& programFolder, std::function<void()> endProgram);
};

} // namespace docuflume::test
