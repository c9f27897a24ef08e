// The Windows engine against the recording Word, under Wine (or Windows): the calls the
// program makes of Word, as Word receives them, and what becomes of an export when Word
// misbehaves. Prints "N passed, M failed".
//
//     tst_com.exe        (RecordingWord.exe beside it)

#include "convert/ExportSteps.h"
#include "convert/com/ComDispatch.h"
#include "convert/com/WordCalls.h"
#include "convert/com/WordEngine.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace docuflume::com;

namespace {

// Registered where every program of this prefix (or machine) looks classes up.
const wchar_t* const kClassKey = L"Word.Application";
const wchar_t* const kClsidKey = L"CLSID\\{6C1E4D2A-9B7F-4E3A-8D51-2F0C77943BA1}";

int g_passed = 0;
int g_failed = 0;   // tests
int g_failures = 0; // expectations that failed, in all tests
std::string g_test;

std::string narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

bool expect(bool condition, const std::string& what)
{
    if (!condition) {
        std::printf("FAIL %s: %s\n", g_test.c_str(), what.c_str());
        ++g_failures;
    }
    return condition;
}

void run(const char* name, const std::function<void()>& test)
{
    g_test = name;
    const int before = g_failures;
    try {
        test();
    } catch (const ComError& error) {
        expect(false, "COM error: " + narrow(error.description()));
    }
    if (g_failures == before) {
        std::printf("PASS %s\n", name);
        ++g_passed;
    } else {
        ++g_failed;
    }
}

std::wstring besideUs(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

// Starts the program `name` beside this one with `arguments`.
bool startBesideUs(const wchar_t* name, const std::wstring& arguments, PROCESS_INFORMATION& process)
{
    std::wstring command = L"\"" + besideUs(name) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process);
}

void setDefault(const std::wstring& key, const std::wstring& value)
{
    HKEY handle = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                    nullptr);
    RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
}

void registerRecordingWord()
{
    const std::wstring clsid = L"{6C1E4D2A-9B7F-4E3A-8D51-2F0C77943BA1}";
    setDefault(std::wstring(kClassKey) + L"\\CLSID", clsid);
    setDefault(kClsidKey, L"Recording Word");
    setDefault(std::wstring(kClsidKey) + L"\\ProgID", L"Word.Application");
    setDefault(std::wstring(kClsidKey) + L"\\LocalServer32",
               L"\"" + besideUs(L"RecordingWord.exe") + L"\" -Embedding");
}

void unregisterRecordingWord()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClsidKey);
}

void writeFile(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// The recording's lines, each split at its tabs.
std::vector<std::vector<std::string>> recording()
{
    std::vector<std::vector<std::string>> lines;
    const HANDLE file =
        CreateFileW(besideUs(L"RecordingWord.log").c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        text.append(buffer, read);
    CloseHandle(file);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        size_t from = 0;
        for (;;) {
            const size_t tab = line.find('\t', from);
            fields.push_back(line.substr(from, tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        if (!line.empty())
            lines.push_back(fields);
        start = end + 1;
    }
    return lines;
}

void clearRecording()
{
    DeleteFileW(besideUs(L"RecordingWord.log").c_str());
    DeleteFileW(besideUs(L"RecordingWord.act").c_str());
}

// What the recording Word is to do wrong, from its next call on.
void act(const std::string& lines)
{
    writeFile(besideUs(L"RecordingWord.act"), lines);
}

// The recording without process numbers, one string per line, fields joined by " ".
std::vector<std::string> calls()
{
    std::vector<std::string> result;
    for (const auto& fields : recording()) {
        std::string line;
        for (size_t k = 1; k < fields.size(); ++k)
            line += (k > 1 ? " " : "") + fields[k];
        result.push_back(line);
    }
    return result;
}

// The server processes the recording names.
std::vector<std::string> servers()
{
    std::vector<std::string> pids;
    for (const auto& fields : recording()) {
        if (fields.size() > 1 && fields[1] == "start")
            pids.push_back(fields[0]);
    }
    return pids;
}

// Until the recording holds `line`, or a few seconds have gone.
bool waitForLine(const std::string& line)
{
    for (int k = 0; k < 500; ++k) {
        for (const std::string& call : calls()) {
            if (call == line)
                return true;
        }
        Sleep(20);
    }
    return false;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "\n    " + line;
    return text;
}

// The eleven named arguments of the save, as the program passes them.
std::vector<NamedValue> saveArguments(const std::wstring& output, std::int32_t format)
{
    return {{L"fileName", Variant(output)},
            {L"FileFormat", Variant(format)},
            {L"LockComments", Variant(false)},
            {L"Password", Variant(L"")},
            {L"AddToRecentFiles", Variant(true)},
            {L"WritePassword", Variant(L"")},
            {L"ReadOnlyRecommended", Variant(false)},
            {L"EmbedTrueTypeFonts", Variant(false)},
            {L"SaveNativePictureFormat", Variant(false)},
            {L"SaveFormsData", Variant(false)},
            {L"SaveAsAOCELetter", Variant(false)}};
}

// The limits the tests run under: short, so that a stalled Word is given up on quickly.
docuflume::com::WordLimits testLimits()
{
    docuflume::com::WordLimits limits;
    limits.busy = std::chrono::seconds(2);
    limits.call = std::chrono::seconds(6);
    limits.quit = std::chrono::seconds(2);
    return limits;
}

// One export as the program makes it, through the engine and the program's own export
// steps; the failure's description, if any.
std::wstring exportDocument(docuflume::com::WordEngine& engine, const std::wstring& source,
                            const std::wstring& output, int format)
{
    try {
        docuflume::RunExportSteps(engine, source, [&](docuflume::com::OpenedDocument& document) {
            if (format)
                document.saveAs(saveArguments(output, format));
        });
    } catch (const ComError& error) {
        return error.description();
    }
    return {};
}

void endsWithOneServer(const std::vector<std::string>& expected)
{
    const std::vector<std::string> got = calls();
    expect(servers().size() == 1, "one Word started, got " + std::to_string(servers().size()));
    expect(got == expected, "the calls were:" + joined(got) + "\n  expected:" + joined(expected));
}

bool processRunning(DWORD id)
{
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

// What is wrong with how the recorded servers ended: each must have ended, and one that
// ended by itself must have been let go of entirely. `killed`: it was to be ended by force
// (then it leaves no last line). A server still running is ended here.
std::vector<std::string> endingProblems(bool killed)
{
    std::vector<std::string> problems;
    for (const std::string& pid : servers()) {
        for (int k = 0; k < 100 && processRunning(DWORD(std::stoul(pid))); ++k)
            Sleep(50);
    }
    const auto lines = recording(); // with the last line of each that has ended
    for (const std::string& pid : servers()) {
        const DWORD id = DWORD(std::stoul(pid));
        if (processRunning(id)) {
            problems.push_back("Word " + pid + " is still running");
            if (const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id)) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
            continue;
        }
        std::string exit;
        for (const auto& fields : lines) {
            if (fields.size() > 2 && fields[0] == pid && fields[1] == "exit")
                exit = fields[2];
        }
        if (killed && !exit.empty())
            problems.push_back("Word " + pid + " ended by itself, not by force");
        else if (!killed && exit.empty())
            problems.push_back("Word " + pid + " was ended by force");
        else if (!exit.empty() && exit != "0")
            problems.push_back("Word " + pid + " ended with " + exit + " objects still referenced");
    }
    return problems;
}

void expectEndedWell(bool killed)
{
    for (const std::string& problem : endingProblems(killed))
        expect(false, problem);
}

int count(const std::vector<std::string>& lines, const std::string& line)
{
    int found = 0;
    for (const std::string& each : lines)
        found += each == line;
    return found;
}

// How an export fares against a Word that misbehaves in one way.
struct Misbehaviour
{
    const char* name;
    std::string act;      // the act file's lines
    std::wstring failure; // what the export says; empty: it succeeds
    bool killed;          // its Word ends by force
};

} // namespace

int main(int argc, char* argv[])
{
    Apartment apartment;
    using docuflume::com::WordEngine;

    // Started by the test below: a program that starts a Word of its own and ends without
    // quitting it.
    if (argc > 1 && std::string(argv[1]) == "/orphan") {
        WordEngine engine(testLimits());
        auto instance = engine.create();
        // Its process must have been found, or nothing could tie it to this program.
        ExitProcess(instance->processId() ? 0 : 2);
    }

    run("missing Word.Application is reported as such", [] {
        unregisterRecordingWord();
        try {
            WordEngine engine(testLimits());
            engine.create();
            expect(false, "a Word was started");
        } catch (const ComError& error) {
            expect(error.description() == L"Word.Application is not registered on this computer.",
                   "description: " + narrow(error.description()));
        }
    });

    registerRecordingWord();

    const std::vector<std::string> safeStart = {
        "start embedding", "names Application AutomationSecurity 419",
        "invoke Application 419 4 1 1 -3:3:3", "names Application DisplayAlerts 94",
        "invoke Application 94 4 1 1 -3:3:0"};
    auto withQuit = [](std::vector<std::string> calls) {
        for (const char* line : {"names Application Quit,SaveChanges 1105,0",
                                 "invoke Application 1105 1 1 1 0:3:0", "end quit", "exit 0"})
            calls.push_back(line);
        return calls;
    };
    auto withOpen = [&](const std::string& path, const char* member = "OpenNoRepairDialog",
                        const char* id = "32") {
        std::vector<std::string> calls = safeStart;
        for (const std::string& line :
             {std::string("names Application Documents 6"),
              std::string("invoke Application 6 3 0 0"),
              std::string("names Documents OpenNoRepairDialog ") +
                  (std::string(member) == "Open" ? "-1" : "32"),
              "names Documents " + std::string(member) +
                  ",FileName,ConfirmConversions,ReadOnly,AddToRecentFiles,PasswordDocument,"
                  "PasswordTemplate,Visible,NoEncodingDialog " +
                  id + ",0,1,2,3,4,5,11,14",
              // Named arguments arrive last one first, each value with its name's number.
              "invoke Documents " + std::string(id) +
                  " 1 8 8 14:11:True 11:11:False 5:8:docuflume: no password known "
                  "4:8:docuflume: no password known 3:11:False 2:11:True 1:11:False 0:8:" +
                  path})
            calls.push_back(line);
        return calls;
    };

    run("start-up test: one create, made safe, one Quit without saving", [&] {
        clearRecording();
        {
            WordEngine engine(testLimits());
            engine.create()->quit();
        }
        waitForLine("exit 0");
        endsWithOneServer(withQuit(safeStart));
    });

    run("one export: made safe, opened read-only by name, saved with eleven named, quit", [&] {
        clearRecording();
        WordEngine engine(testLimits());
        const std::wstring failure =
            exportDocument(engine, L"C:\\Docs\\report.docx", L"C:\\Out\\report.htm", 10);
        expect(failure.empty(), "failed: " + narrow(failure));
        waitForLine("exit 0");
        std::vector<std::string> expected = withOpen("C:\\Docs\\report.docx");
        for (const char* line :
             {"names Document SaveAs,fileName,FileFormat,LockComments,Password,AddToRecentFiles,"
              "WritePassword,ReadOnlyRecommended,EmbedTrueTypeFonts,SaveNativePictureFormat,"
              "SaveFormsData,SaveAsAOCELetter 375,0,1,2,3,4,5,6,7,8,9,10",
              "invoke Document 375 1 11 11 10:11:False 9:11:False 8:11:False 7:11:False "
              "6:11:False 5:8: 4:11:True 3:8: 2:11:False 1:3:10 0:8:C:\\Out\\report.htm"})
            expected.push_back(line);
        endsWithOneServer(withQuit(expected));
    });

    run("no flavour: opened and quit, never saved", [&] {
        clearRecording();
        WordEngine engine(testLimits());
        expect(exportDocument(engine, L"C:\\Docs\\a.doc", L"C:\\Out\\a.htm", 0).empty(), "failed");
        waitForLine("exit 0");
        endsWithOneServer(withQuit(withOpen("C:\\Docs\\a.doc")));
    });

    run("a Word without OpenNoRepairDialog opens with Open, with the same arguments", [&] {
        clearRecording();
        act("OpenNoRepairDialog\tmissing\r\n");
        WordEngine engine(testLimits());
        expect(exportDocument(engine, L"C:\\Docs\\a.doc", L"C:\\Out\\a.htm", 0).empty(), "failed");
        waitForLine("exit 0");
        endsWithOneServer(withQuit(withOpen("C:\\Docs\\a.doc", "Open", "19")));
    });

    // Each: the export fails as said (or succeeds), within the limit, with the window served
    // meanwhile; the Word ends, by itself or by force, with nothing still referenced; and
    // the next document converts.
    const std::vector<Misbehaviour> misbehaviours = {
        {"Open fails with Word's description, and Word still quits",
         "OpenNoRepairDialog\tfail\tThis file could not be found.\r\n",
         L"This file could not be found.", false},
        {"the start hangs", "CreateInstance\tstall\r\n",
         L"Word did not start within 6 seconds and was stopped.", true},
        {"making it safe hangs", "AutomationSecurity\tstall\r\n",
         L"Word did not start within 6 seconds and was stopped.", true},
        {"Open hangs", "OpenNoRepairDialog\tstall\r\n",
         L"Word did not finish converting report.docx within 6 seconds and was stopped.", true},
        {"SaveAs hangs", "SaveAs\tstall\r\n",
         L"Word did not finish converting report.docx within 6 seconds and was stopped.", true},
        {"Quit hangs: the page is saved, Word is ended", "Quit\tstall\r\n", L"", true},
        {"Word dies in Documents", "Documents\tdie\r\n",
         L"Word stopped while converting report.docx.", true},
        {"Word dies in SaveAs", "SaveAs\tdie\r\n", L"Word stopped while converting report.docx.",
         true},
        {"Word dies in Quit: nothing is lost", "Quit\tdie\r\n", L"", true},
        {"Word never ends after Quit: it is ended", "Quit\tlinger\r\n", L"", true},
        {"calls rejected three times are retried", "*\treject\t3\r\n", L"", false},
        {"calls rejected for ever fail within the limit", "*\treject\talways\r\n",
         L"Word was busy for 2 seconds and did not start.", false},
    };
    for (const Misbehaviour& row : misbehaviours) {
        run(row.name, [&] {
            clearRecording();
            act(row.act);
            int served = 0;
            WordEngine engine(testLimits(), [&] { ++served; });
            const auto began = std::chrono::steady_clock::now();
            const std::wstring failure =
                exportDocument(engine, L"C:\\Docs\\report.docx", L"C:\\Out\\report.htm", 8);
            const auto took = std::chrono::steady_clock::now() - began;
            expect(failure == row.failure, "failure: \"" + narrow(failure) + "\"");
            // The limit, the grace for a killed call to return, and the wait after Quit.
            expect(took < std::chrono::seconds(6 + 5 + 2), "the export took too long");
            if (took > std::chrono::milliseconds(500))
                expect(served > 0, "the window was not served while Word worked");
            expectEndedWell(row.killed);
            if (row.act.find("reject\t3") != std::string::npos)
                expect(count(calls(), "rejected") == 3,
                       "rejections seen: " + std::to_string(count(calls(), "rejected")));

            clearRecording();
            const std::wstring next =
                exportDocument(engine, L"C:\\Docs\\next.docx", L"C:\\Out\\next.htm", 8);
            expect(next.empty(), "the next document failed: " + narrow(next));
            expectEndedWell(false);
        });
    }

    run("the leak check sees a reference that is never let go of", [] {
        clearRecording();
        {
            const Dispatch application = word::start();
            // A reference of its own, never released.
            IDispatch* leaked = application.call(L"Documents").dispatch();
            expect(leaked != nullptr, "no Documents");
            word::quit(application);
        }
        const std::vector<std::string> problems = endingProblems(false);
        expect(problems.size() == 1 &&
                   problems[0].find("1 objects still referenced") != std::string::npos,
               "problems: " + joined(problems) + "\n  calls:" + joined(calls()));
    });

    run("a Word of ours ends with the program that started it, however it ends", [] {
        clearRecording();
        PROCESS_INFORMATION process{};
        if (!expect(startBesideUs(L"tst_com.exe", L"/orphan", process),
                    "the program could not be started"))
            return;
        WaitForSingleObject(process.hProcess, 30000);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        expect(code == 0, "its Word's process was not found: " + std::to_string(code));
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        expect(servers().size() == 1, "Words started: " + std::to_string(servers().size()));
        expectEndedWell(true);
    });

    run("busy calls are retried with a growing pause, never past the patience", [] {
        BusyRetry retry(std::chrono::milliseconds(3000));
        const std::vector<std::pair<int, int>> pauses = {
            {0, 100}, {150, 200}, {300, 400}, {700, 800}, {1500, 1000}, {2950, 50}, {3000, -1}};
        for (const auto& [elapsed, pause] : pauses) {
            const std::optional<DWORD> got = retry.pauseAfter(std::chrono::milliseconds(elapsed));
            expect((got ? int(*got) : -1) == pause, "after " + std::to_string(elapsed) + " ms: " +
                                                        std::to_string(got ? int(*got) : -1));
        }
        expect(retry.RetryRejectedCall(nullptr, 0, SERVERCALL_RETRYLATER) == 100,
               "COM is not told to retry");
        expect(retry.RetryRejectedCall(nullptr, 3000, SERVERCALL_RETRYLATER) == DWORD(-1),
               "COM is not told to give up");
    });

    run("running test: \"Microsoft Word\" exactly, never quit", [] {
        clearRecording();
        const wchar_t* const stopName = L"DocuflumeRecordingWordStop";
        const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stopName);
        PROCESS_INFORMATION process{};
        if (!expect(
                startBesideUs(L"RecordingWord.exe", std::wstring(L"/running ") + stopName, process),
                "the running Word could not be started"))
            return;
        if (expect(waitForLine("start running registered"), "the running Word did not register")) {
            WordEngine engine(testLimits());
            Dispatch running = engine.attachRunning();
            const std::wstring name = word::name(running);
            expect(name == L"Microsoft Word", "name: " + narrow(name));
            running.release();
        }
        SetEvent(stop);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        CloseHandle(stop);
        const std::vector<std::string> got = calls();
        expect(got == std::vector<std::string>{"start running registered",
                                               "invoke Application 0 2 0 0", "end stopped",
                                               "exit 0"},
               "the calls were:" + joined(got));
    });

    run("nothing is running: attaching fails", [] {
        clearRecording();
        try {
            WordEngine engine(testLimits());
            engine.attachRunning();
            expect(false, "attached to a Word that is not running");
        } catch (const ComError&) {
        }
        expect(servers().empty(), "a Word was started");
    });

    unregisterRecordingWord();
    clearRecording();
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
