// The program's Word engine on Windows, as the window sees it while Word works, under Wine
// (or Windows) against the recording Word: it is painted and can be closed, but clicks and
// keys are dropped, so that no handler of the window runs in the middle of an export.
// Prints "N passed, M failed".
//
//     tst_waiting.exe    (RecordingWord.exe beside it; Qt for Windows beside it)

#include "convert/WordAutomation.h"
#include "convert/com/WordComAutomation.h"
#include "shell/Failure.h"

#include <QApplication>
#include <QCloseEvent>
#include <QWidget>

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

const wchar_t* const kClsid = L"{6C1E4D2A-9B7F-4E3A-8D51-2F0C77943BA1}";

std::wstring besideUs(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

void setValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
}

void registerRecordingWord(bool registered)
{
    const std::wstring server = std::wstring(L"CLSID\\") + kClsid;
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Word.Application");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, server.c_str());
    if (!registered)
        return;
    setValue(HKEY_CLASSES_ROOT, L"Word.Application\\CLSID", nullptr, kClsid);
    setValue(HKEY_CLASSES_ROOT, server + L"\\LocalServer32", nullptr,
             L"\"" + besideUs(L"RecordingWord.exe") + L"\" -Embedding");
}

void writeAct(const char* lines)
{
    const HANDLE file = CreateFileW(besideUs(L"RecordingWord.act").c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, lines, DWORD(strlen(lines)), &written, nullptr);
    CloseHandle(file);
}

// Ends the Words the recording Word started beside itself, as another program would have.
void endSiblings()
{
    FILE* log = _wfopen(besideUs(L"RecordingWord.log").c_str(), L"r");
    if (!log)
        return;
    char line[512];
    while (std::fgets(line, sizeof line, log)) {
        unsigned long starter = 0;
        unsigned long sibling = 0;
        if (std::sscanf(line, "%lu\tsibling\t%lu", &starter, &sibling) != 2)
            continue;
        if (const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, sibling)) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    std::fclose(log);
}

// A window that counts what reaches it, and stays open.
class Window final : public QWidget
{
public:
    int presses = 0;
    int keys = 0;
    int closes = 0;
    int paints = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
    void keyPressEvent(QKeyEvent*) override { ++keys; }
    void closeEvent(QCloseEvent* event) override
    {
        ++closes;
        event->ignore();
    }
    void paintEvent(QPaintEvent*) override { ++paints; }
};

int g_failed = 0;

void expect(bool condition, const std::string& what)
{
    if (!condition) {
        std::printf("FAIL %s\n", what.c_str());
        ++g_failed;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    registerRecordingWord(true);
    QApplication application(argc, argv);
    Window window;
    window.resize(300, 200);
    window.show();
    QApplication::processEvents();
    const HWND handle = HWND(window.winId());

    // Word takes a while to make itself safe; meanwhile the user clicks, types and closes.
    writeAct("AutomationSecurity\tstall\t1500\r\n");
    PostMessageW(handle, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
    PostMessageW(handle, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    PostMessageW(handle, WM_KEYDOWN, 'A', 1);
    PostMessageW(handle, WM_KEYUP, 'A', 1);
    PostMessageW(handle, WM_CLOSE, 0, 0);
    window.update();
    const int paintsBefore = window.paints;
    {
        const std::unique_ptr<docuflume::WordAutomation> word = docuflume::makeWordComAutomation();
        try {
            word->create()->quit();
        } catch (const std::exception& error) {
            expect(false, std::string("Word failed: ") + error.what());
        }
    }
    expect(window.presses == 0, "a click was handled while Word worked");
    expect(window.keys == 0, "a key was handled while Word worked");
    expect(window.closes == 1, "the close was not handled while Word worked");
    expect(window.paints > paintsBefore, "the window was not painted while Word worked");

    // Once Word has answered, the window takes the user's input again.
    PostMessageW(handle, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
    PostMessageW(handle, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    for (int pass = 0; pass < 10 && window.presses == 0; ++pass) {
        QApplication::processEvents();
        Sleep(10);
    }
    expect(window.presses == 1, "a click after the wait was not handled");

    // A Word that could not be told apart from another started at the same moment is quit at
    // once: at start-up it showed that Word is there; in a run it stops the run.
    DeleteFileW(besideUs(L"RecordingWord.log").c_str());
    writeAct("Caption\tmissing\r\nCreateInstance\tsibling\r\n");
    {
        const std::unique_ptr<docuflume::WordAutomation> word = docuflume::makeWordComAutomation();
        try {
            word->create()->quit();
        } catch (const std::exception& error) {
            expect(false, std::string("the start-up check failed: ") + error.what());
        }
        word->beginBatch();
        bool refused = false;
        try {
            word->create();
        } catch (const std::exception&) {
            refused = true;
        }
        expect(refused && word->batchStopped(), "a run went on with a Word it could not end");
        word->endBatch();
    }
    endSiblings();

    // Ctrl+C in a run without a window: the Word at work is stopped, so its call fails now
    // rather than when Word answers, and no Word starts after it.
    writeAct("OpenNoRepairDialog\tstall\t20000\r\n");
    {
        const std::unique_ptr<docuflume::WordAutomation> word = docuflume::makeWordComAutomation();
        word->beginBatch();
        bool stopped = false;
        try {
            const auto instance = word->create();
            std::thread interrupter([&] {
                Sleep(1000);
                word->interrupt();
            });
            try {
                instance->open(QStringLiteral("C:\\stalls.doc"));
            } catch (const docuflume::Failure& failure) {
                // (Reported as a Word that stopped, were the run to report it.)
                stopped = failure.cause() == docuflume::Failure::Cause::OfficeStopped;
            }
            interrupter.join();
        } catch (const std::exception& error) {
            expect(false, std::string("Word failed: ") + error.what());
        }
        expect(stopped, "an interrupted call waited for Word");
        bool refused = false;
        try {
            word->create();
        } catch (const std::exception&) {
            refused = true;
        }
        expect(refused, "a Word started after the run was interrupted");
        word->endBatch();
    }

    registerRecordingWord(false);
    DeleteFileW(besideUs(L"RecordingWord.act").c_str());
    DeleteFileW(besideUs(L"RecordingWord.log").c_str());
    std::printf("%d passed, %d failed\n", g_failed ? 0 : 1, g_failed ? 1 : 0);
    return g_failed ? 1 : 0;
}
