// The Windows engine against the recording Word, under Wine (or Windows): the calls the
// program makes of Word, as Word receives them, and what becomes of an export when Word
// misbehaves. Prints "N passed, M failed".
//
//     tst_com.exe        (RecordingWord.exe beside it)

#include "convert/ExportSteps.h"
#include "convert/com/ComDispatch.h"
#include "convert/com/ServerProcess.h"
#include "convert/com/WordCalls.h"
#include "convert/com/WordEngine.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
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

// A key's default value in the registry view `view` (0: this program's own).
void setDefault(const std::wstring& key, const std::wstring& value, REGSAM view = 0)
{
    HKEY handle = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr,
                    &handle, nullptr);
    RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
}

void unregisterRecordingWord()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY classes = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | view, &classes) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(classes, kClsidKey + 6);
            RegCloseKey(classes);
        }
    }
}

// The recording Word registered as Word.Application, started with `command`, in one
// registry view: a 32-bit Word is registered in the 32-bit view alone.
void registerServer(const std::wstring& command, REGSAM view = 0)
{
    unregisterRecordingWord();
    const std::wstring clsid = L"{6C1E4D2A-9B7F-4E3A-8D51-2F0C77943BA1}";
    setDefault(std::wstring(kClassKey) + L"\\CLSID", clsid);
    setDefault(kClsidKey, L"Recording Word", view);
    setDefault(std::wstring(kClsidKey) + L"\\ProgID", L"Word.Application", view);
    setDefault(std::wstring(kClsidKey) + L"\\LocalServer32", command, view);
}

void registerRecordingWord()
{
    registerServer(L"\"" + besideUs(L"RecordingWord.exe") + L"\" -Embedding");
}

// A copy of the recording Word in a folder with a space in its name, as Word is installed
// under "Program Files"; it keeps its log and act file beside this program.
std::wstring spacedServer()
{
    return besideUs(L"Recording Word\\RecordingWord.exe");
}

// The registration a current Office writes: the path unquoted, spaces and all.
std::wstring spacedRegistration()
{
    const std::wstring folder = besideUs(L"");
    return spacedServer() + L" /home \"" + folder.substr(0, folder.size() - 1) + L"\"";
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

// A recorded value with what is drawn at random in it named instead: the caption that marks
// our Word, the staging folder a page is saved into.
std::string withoutChance(std::string field)
{
    const std::string caption = ":8:Docuflume#";
    if (const size_t at = field.find(caption); at != std::string::npos)
        field = field.substr(0, at + caption.size());
    const std::string staging = "\\.docuflume-";
    if (const size_t at = field.find(staging); at != std::string::npos)
        field = field.substr(0, at) + "\\<staging>" + field.substr(field.find('\\', at + 1));
    return field;
}

// The recording without process numbers, one string per line, fields joined by " ".
std::vector<std::string> calls()
{
    std::vector<std::string> result;
    for (const auto& fields : recording()) {
        std::string line;
        for (size_t k = 1; k < fields.size(); ++k)
            line += (k > 1 ? " " : "") + withoutChance(fields[k]);
        result.push_back(line);
    }
    return result;
}

// The processes the recording names: the Words started through COM, or (`others`) those
// started beside one of them, as a user's.
std::vector<std::string> servers(bool others = false)
{
    std::vector<std::string> pids;
    for (const auto& fields : recording()) {
        if (fields.size() > 2 && !others && fields[1] == "start" && fields[2] != "idle")
            pids.push_back(fields[0]);
        if (fields.size() > 2 && others && fields[1] == "sibling")
            pids.push_back(fields[2]);
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
    limits.running = std::chrono::seconds(1);
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

// Ends the process `pid` names where it still runs; whether it was running.
bool endIfRunning(const std::string& pid)
{
    const HANDLE process =
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, DWORD(std::stoul(pid)));
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (running) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
    return running;
}

// The page the recording Word writes, and the one an earlier run left in its place.
const std::string kSavedPage = "<html><body><p>Saved by the recording Word.</p>"
                               "<img src=\"report_files/image001.png\"></body></html>";
const std::string kNewPages =
    "report.htm=" + kSavedPage + " report_files/ report_files/image001.png";
const std::string kOldPages = "report.htm=old page report_files/ report_files/old.png";

std::wstring pagesFolder()
{
    return besideUs(L"pages");
}

std::string readFile(const std::wstring& path)
{
    std::string text;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

// What a folder holds, each entry below it by name ("/" after a folder), the pages with
// their text, in the order of their names.
std::string folderState(const std::wstring& folder, const std::string& prefix = "")
{
    std::vector<std::pair<std::string, std::string>> entries;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return {};
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::string shown = prefix + narrow(name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const std::string inside = folderState(folder + L"\\" + name, shown + "/");
            entries.push_back({shown, shown + "/" + (inside.empty() ? "" : " " + inside)});
        } else if (name.size() > 4 && name.substr(name.size() - 4) == L".htm") {
            entries.push_back({shown, shown + "=" + readFile(folder + L"\\" + name)});
        } else {
            entries.push_back({shown, shown});
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(entries.begin(), entries.end());
    std::string state;
    for (const auto& entry : entries)
        state += (state.empty() ? "" : " ") + entry.second;
    return state;
}

// Removes a folder of the test's with all it holds.
void removeFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeFolder(folder + L"\\" + name);
            else
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// The output folder as an earlier run left it: a page and its pictures.
void seedOldPage()
{
    removeFolder(pagesFolder());
    CreateDirectoryW(pagesFolder().c_str(), nullptr);
    CreateDirectoryW((pagesFolder() + L"\\report_files").c_str(), nullptr);
    writeFile(pagesFolder() + L"\\report.htm", "old page");
    writeFile(pagesFolder() + L"\\report_files\\old.png", "old");
}

// An object in this process that answers every call as COM answers for a server that stays
// busy on Windows: it asks the message filter registered on the calling thread when to try
// again, waits as told, and fails the call as rejected once the filter gives up. (COM
// interfaces have no virtual destructor: objects are released through them.)
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class BusyServer final : public IDispatch
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID,
                                            DISPID* ids) override
    {
        for (UINT k = 0; k < count; ++k)
            ids[k] = DISPID(k + 1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        ++invoked;
        IMessageFilter* filter = nullptr;
        IMessageFilter* ours = nullptr;
        CoRegisterMessageFilter(nullptr, &filter); // taken out to be asked, and put back
        CoRegisterMessageFilter(filter, &ours);
        const DWORD began = GetTickCount();
        for (;;) {
            const DWORD pause = filter ? filter->RetryRejectedCall(nullptr, GetTickCount() - began,
                                                                   SERVERCALL_RETRYLATER)
                                       : DWORD(-1);
            if (pause == DWORD(-1))
                break;
            Sleep(pause);
        }
        if (filter)
            filter->Release();
        return RPC_E_CALL_REJECTED;
    }
    int invoked = 0;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// How an export fares against a Word that misbehaves in one way.
struct Misbehaviour
{
    const char* name;
    std::string act;         // the act file's lines
    std::wstring failure;    // what the export says; empty: it succeeds
    bool killed;             // its Word ends by force
    int seconds = 6 + 5 + 2; // the export takes less: the limit, the grace, the wait after Quit
};

} // namespace

int main(int argc, char* argv[])
{
    Apartment apartment;
    using docuflume::com::WordEngine;

    // Started by the test below: a program that starts a Word of its own and ends without
    // quitting it; with /orphan-takeover, the user takes that Word over first.
    if (argc > 1 && std::string(argv[1]).starts_with("/orphan")) {
        WordEngine engine(testLimits());
        auto instance = engine.create();
        if (std::string(argv[1]) == "/orphan-takeover")
            instance->open(L"C:\\Docs\\a.doc");
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
        "start embedding",
        // Which process is ours: a caption of its own, shown in its window; then its own back.
        "names Application Caption 8", "invoke Application 8 3 0 0", "names Application Caption 8",
        "invoke Application 8 4 1 1 -3:8:Docuflume#", "names Application Caption 8",
        "invoke Application 8 4 1 1 -3:8:Microsoft Word",
        "names Application AutomationSecurity 419", "invoke Application 419 4 1 1 -3:3:3",
        "names Application DisplayAlerts 94", "invoke Application 94 4 1 1 -3:3:0",
        // No links fetched when a document opens, for as long as this Word lives.
        "names Application Options 93", "invoke Application 93 3 0 0",
        "names Options UpdateLinksAtOpen 30", "invoke Options 30 3 0 0",
        "names Options UpdateLinksAtOpen 30", "invoke Options 30 4 1 1 -3:11:False"};
    // The user's setting put back; Word found to be ours alone; quit without saving.
    auto withQuit = [](std::vector<std::string> calls) {
        for (const char* line :
             {"names Options UpdateLinksAtOpen 30", "invoke Options 30 4 1 1 -3:11:True",
              "names Application Visible 23", "invoke Application 23 3 0 0",
              "names Application Documents 6", "invoke Application 6 3 0 0",
              "names Documents Count 2", "invoke Documents 2 3 0 0",
              "names Application Quit,SaveChanges 1105,0", "invoke Application 1105 1 1 1 0:3:0",
              "end quit", "exit 0"})
            calls.push_back(line);
        return calls;
    };
    // Our document closed without saving, before Word is asked whether anything else is open.
    auto withClose = [](std::vector<std::string> calls) {
        calls.push_back("names Document Close,SaveChanges 1105,0");
        calls.push_back("invoke Document 1105 1 1 1 0:3:0");
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
    const std::wstring page = pagesFolder() + L"\\report.htm";

    run("start-up test: one create, made safe, one Quit without saving", [&] {
        clearRecording();
        {
            WordEngine engine(testLimits());
            engine.create()->quit();
        }
        waitForLine("exit 0");
        endsWithOneServer(withQuit(safeStart));
    });

    run("one export: made safe, opened read-only by name, saved staged with eleven named, quit",
        [&] {
            clearRecording();
            seedOldPage();
            WordEngine engine(testLimits());
            const std::wstring failure = exportDocument(engine, L"C:\\Docs\\report.docx", page, 10);
            expect(failure.empty(), "failed: " + narrow(failure));
            waitForLine("exit 0");
            std::vector<std::string> expected = withOpen("C:\\Docs\\report.docx");
            // Saved into a staging folder beside the page, then moved into place.
            for (const std::string& line :
                 {std::string("names Document SaveAs,fileName,FileFormat,LockComments,Password,"
                              "AddToRecentFiles,WritePassword,ReadOnlyRecommended,"
                              "EmbedTrueTypeFonts,SaveNativePictureFormat,SaveFormsData,"
                              "SaveAsAOCELetter 375,0,1,2,3,4,5,6,7,8,9,10"),
                  "invoke Document 375 1 11 11 10:11:False 9:11:False 8:11:False 7:11:False "
                  "6:11:False 5:8: 4:11:True 3:8: 2:11:False 1:3:10 0:8:" +
                      narrow(pagesFolder()) + "\\<staging>\\report.htm"})
                expected.push_back(line);
            endsWithOneServer(withQuit(withClose(expected)));
            expect(folderState(pagesFolder()) == kNewPages,
                   "the output folder holds: " + folderState(pagesFolder()));
        });

    run("a page is saved staged: what a killed run left beside it is removed", [&] {
        clearRecording();
        seedOldPage();
        // Named as a run whose process is gone leaves its staging folders.
        const std::wstring left = pagesFolder() + L"\\.docuflume-w0000000000000000-000001";
        CreateDirectoryW(left.c_str(), nullptr);
        writeFile(left + L"\\report.htm", "half a page");
        WordEngine engine(testLimits());
        const std::wstring failure = exportDocument(engine, L"C:\\Docs\\report.docx", page, 8);
        expect(failure.empty(), "failed: " + narrow(failure));
        expect(folderState(pagesFolder()) == kNewPages,
               "the output folder holds: " + folderState(pagesFolder()));
    });

    run("the window closed in the middle of a save: Word ended, the folder as it was", [&] {
        clearRecording();
        seedOldPage();
        act("SaveAs\tstall\r\n");
        std::string atClose = "(never closed)";
        WordEngine* closing = nullptr;
        WordEngine engine(testLimits(), [&] {
            if (closing && count(calls(), "stalled") == 1) {
                std::exchange(closing, nullptr)->endNow();
                atClose = folderState(pagesFolder());
            }
        });
        closing = &engine;
        exportDocument(engine, L"C:\\Docs\\report.docx", page, 8);
        expect(atClose == kOldPages, "the output folder holds: " + atClose);
        expectEndedWell(true);
    });

    run("no flavour: opened and quit, never saved", [&] {
        clearRecording();
        WordEngine engine(testLimits());
        expect(exportDocument(engine, L"C:\\Docs\\a.doc", page, 0).empty(), "failed");
        waitForLine("exit 0");
        endsWithOneServer(withQuit(withClose(withOpen("C:\\Docs\\a.doc"))));
    });

    run("a Word without OpenNoRepairDialog opens with Open, with the same arguments", [&] {
        clearRecording();
        act("OpenNoRepairDialog\tmissing\r\n");
        WordEngine engine(testLimits());
        expect(exportDocument(engine, L"C:\\Docs\\a.doc", page, 0).empty(), "failed");
        waitForLine("exit 0");
        endsWithOneServer(withQuit(withClose(withOpen("C:\\Docs\\a.doc", "Open", "19"))));
    });

    // Each: the export fails as said (or succeeds), within its time, with the window served
    // meanwhile; the output folder gets the new page, or is left as it was; the Word ends, by
    // itself or by force, with nothing still referenced; and the next document converts.
    const std::wstring stalledSave =
        L"Word did not finish converting report.docx within 6 seconds and was stopped.";
    const std::vector<Misbehaviour> misbehaviours = {
        {"Open fails with Word's description, and Word still quits",
         "OpenNoRepairDialog\tfail\tThis file could not be found.\r\n",
         L"This file could not be found.", false},
        {"the start hangs", "CreateInstance\tstall\r\n",
         L"Word did not start within 6 seconds and was stopped.", true},
        {"making it safe hangs", "AutomationSecurity\tstall\r\n",
         L"Word did not start within 6 seconds and was stopped.", true},
        {"Open hangs", "OpenNoRepairDialog\tstall\r\n", stalledSave, true},
        {"SaveAs hangs: the half-written page never reaches the folder", "SaveAs\tstall\r\n",
         stalledSave, true},
        {"SaveAs fails: the half-written page never reaches the folder",
         "SaveAs\tfail\tThe disk is full.\r\n", L"The disk is full.", false},
        // Quit has a limit of its own, shorter than a conversion's.
        {"Quit hangs: the page is saved, Word is ended", "Quit\tstall\r\n", L"", true, 5},
        {"Word dies in Documents", "Documents\tdie\r\n",
         L"Word stopped while converting report.docx.", true},
        {"Word dies in SaveAs: the half-written page never reaches the folder", "SaveAs\tdie\r\n",
         L"Word stopped while converting report.docx.", true},
        {"Word dies in Quit: nothing is lost", "Quit\tdie\r\n", L"", true},
        {"Word never ends after Quit: it is ended", "Quit\tlinger\r\n", L"", true, 5},
        {"calls rejected three times are retried", "*\treject\t3\r\n", L"", false},
        {"calls rejected for ever fail within the limit", "*\treject\talways\r\n",
         L"Word was busy for 2 seconds and did not start.", false},
    };
    for (const Misbehaviour& row : misbehaviours) {
        run(row.name, [&] {
            clearRecording();
            seedOldPage();
            act(row.act);
            int served = 0;
            WordEngine engine(testLimits(), [&] { ++served; });
            const auto began = std::chrono::steady_clock::now();
            const std::wstring failure = exportDocument(engine, L"C:\\Docs\\report.docx", page, 8);
            const auto took = std::chrono::steady_clock::now() - began;
            expect(failure == row.failure, "failure: \"" + narrow(failure) + "\"");
            expect(took < std::chrono::seconds(row.seconds),
                   "the export took " +
                       std::to_string(
                           std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) +
                       " ms");
            if (took > std::chrono::milliseconds(500))
                expect(served > 0, "the window was not served while Word worked");
            expectEndedWell(row.killed);
            const std::string pages = folderState(pagesFolder());
            expect(pages == (row.failure.empty() ? kNewPages : kOldPages),
                   "the output folder holds: " + pages);
            if (row.act.find("reject\t3") != std::string::npos)
                expect(count(calls(), "rejected") == 3,
                       "rejections seen: " + std::to_string(count(calls(), "rejected")));

            clearRecording();
            const std::wstring next =
                exportDocument(engine, L"C:\\Docs\\next.docx", pagesFolder() + L"\\next.htm", 8);
            expect(next.empty(), "the next document failed: " + narrow(next));
            expectEndedWell(false);
        });
    }

    // Which Word is ours, told from Word itself where it can be, from its registration
    // otherwise; where neither can tell, no Word is ever killed.
    struct Identification
    {
        const char* name;
        bool spaced; // registered as current Office registers: unquoted, spaces in the path
        std::string act;
        std::wstring failure;
        bool killed; // ours ended by force (the other Word, if any, always stays)
    };
    const std::vector<Identification> identifications = {
        {"our Word told by its caption from another started at the same moment", false,
         "CreateInstance\tsibling\r\nSaveAs\tstall\r\n", stalledSave, true},
        {"our Word told by its registration, unquoted with spaces in the path", true,
         "Caption\tnowindow\r\nSaveAs\tstall\r\n", stalledSave, true},
        {"no Word told apart: nothing converted, the other Word not killed", false,
         "Caption\tmissing\r\nCreateInstance\tsibling\r\nSaveAs\tdie\r\n",
         L"Word could not be told apart from another Word started at the same time, so it "
         L"could not be stopped if it stopped answering. The conversion was stopped: close "
         L"Word and start again.",
         false},
    };
    CreateDirectoryW(besideUs(L"Recording Word").c_str(), nullptr);
    CopyFileW(besideUs(L"RecordingWord.exe").c_str(), spacedServer().c_str(), FALSE);
    for (const Identification& row : identifications) {
        run(row.name, [&] {
            clearRecording();
            seedOldPage();
            if (row.spaced)
                registerServer(spacedRegistration());
            act(row.act);
            WordEngine engine(testLimits());
            const std::wstring failure = exportDocument(engine, L"C:\\Docs\\report.docx", page, 8);
            registerRecordingWord();
            expect(failure == row.failure, "failure: \"" + narrow(failure) + "\"");
            expectEndedWell(row.killed);
            for (const std::string& other : servers(true))
                expect(endIfRunning(other), "the other Word " + other + " was ended");
            expect(folderState(pagesFolder()) == kOldPages,
                   "the output folder holds: " + folderState(pagesFolder()));
        });
    }

    // The user starts Word while ours converts and lands in our instance: only our document
    // is closed, and their Word is neither quit nor killed, however ours ends.
    const std::vector<std::pair<const char*, std::string>> takeovers = {
        {"the user takes our Word over: our document closed, Word not quit",
         "SaveAs\ttakeover\r\n"},
        {"the user takes our Word over, then it hangs: it is not killed",
         "SaveAs\ttakeover\r\nClose\tstall\r\nQuit\tstall\r\n"},
    };
    for (const auto& [name, acts] : takeovers) {
        run(name, [&] {
            clearRecording();
            seedOldPage();
            act(acts);
            {
                WordEngine engine(testLimits());
                const std::wstring failure =
                    exportDocument(engine, L"C:\\Docs\\report.docx", page, 8);
                expect(failure.empty(), "failure: \"" + narrow(failure) + "\"");
            }
            const std::vector<std::string> got = calls();
            expect(count(got, "end quit") == 0, "Word was quit:" + joined(got));
            if (acts.find("stall") == std::string::npos)
                expect(count(got, "invoke Document 1105 1 1 1 0:3:0") == 1,
                       "our document was not closed:" + joined(got));
            for (const std::string& pid : servers())
                expect(endIfRunning(pid), "the user's Word " + pid + " was ended");
            expect(folderState(pagesFolder()) == kNewPages,
                   "the output folder holds: " + folderState(pagesFolder()));
        });
    }
    registerRecordingWord();
    DeleteFileW(spacedServer().c_str());
    RemoveDirectoryW(besideUs(L"Recording Word").c_str());

    run("the program reads Word's process from its registration as Windows runs it", [] {
        CreateDirectoryW(besideUs(L"Recording Word").c_str(), nullptr);
        CopyFileW(besideUs(L"RecordingWord.exe").c_str(), spacedServer().c_str(), FALSE);
        const std::vector<std::tuple<const char*, std::wstring, REGSAM, std::wstring>> rows = {
            {"quoted, with arguments", L"\"" + besideUs(L"RecordingWord.exe") + L"\" /Automation",
             0, L"RecordingWord.exe"},
            {"unquoted, spaces in the path", spacedServer() + L" /Automation", 0,
             L"RecordingWord.exe"},
            {"a 32-bit Word, in the 32-bit view alone", spacedServer() + L" /Automation",
             KEY_WOW64_32KEY, L"RecordingWord.exe"},
            {"naming no program there is", L"C:\\No Such Folder\\WINWORD.EXE /Automation", 0, L""},
        };
        for (const auto& [name, command, view, image] : rows) {
            registerServer(command, view);
            const std::wstring got = LocalServerImage(L"Word.Application");
            expect(got == image, std::string(name) + ": " + narrow(got));
        }
        registerRecordingWord();
        DeleteFileW(spacedServer().c_str());
        RemoveDirectoryW(besideUs(L"Recording Word").c_str());
    });

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

    // Killed with the program by the system, unless the user has taken it over.
    for (const char* mode : {"/orphan", "/orphan-takeover"}) {
        const bool takenOver = std::string(mode) == "/orphan-takeover";
        run(takenOver ? "a Word the user took over outlives the program that started it"
                      : "a Word of ours ends with the program that started it, however it ends",
            [&] {
                clearRecording();
                if (takenOver)
                    act("OpenNoRepairDialog\ttakeover\r\n");
                PROCESS_INFORMATION process{};
                if (!expect(startBesideUs(L"tst_com.exe", std::wstring(mode, mode + strlen(mode)),
                                          process),
                            "the program could not be started"))
                    return;
                WaitForSingleObject(process.hProcess, 30000);
                DWORD code = 1;
                GetExitCodeProcess(process.hProcess, &code);
                expect(code == 0, "its Word's process was not found: " + std::to_string(code));
                CloseHandle(process.hProcess);
                CloseHandle(process.hThread);
                expect(servers().size() == 1, "Words started: " + std::to_string(servers().size()));
                if (takenOver) {
                    Sleep(500);
                    for (const std::string& pid : servers())
                        expect(endIfRunning(pid), "the user's Word " + pid + " was ended");
                } else {
                    expectEndedWell(true);
                }
            });
    }

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

    run("a call COM has retried while busy is not retried again", [] {
        // As on Windows, where COM asks the filter: the patience is spent there once.
        BusyRetry retry(std::chrono::milliseconds(1500));
        BusyServer server;
        const Dispatch busy(&server);
        const auto began = std::chrono::steady_clock::now();
        try {
            busy.call(L"Name");
            expect(false, "the call went through");
        } catch (const ComError& error) {
            expect(ServerWasBusy(error.code()), "failed otherwise: " + narrow(error.description()));
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - began);
        expect(took < std::chrono::milliseconds(2000) && server.invoked == 1,
               "busy for " + std::to_string(took.count()) + " ms, in " +
                   std::to_string(server.invoked) + " calls");
    });

    // The running check: the name read on a thread of its own, within a few seconds, and the
    // user's Word never quit; one that does not answer in time is taken for Word.
    struct RunningCase
    {
        const char* name;
        std::string act;
        bool answers;
    };
    const std::vector<RunningCase> runningCases = {
        {"running test: \"Microsoft Word\" exactly, never quit", "", true},
        {"running test: a Word that hangs is not waited for", "Name\tstall\t8000\r\n", false},
        {"running test: a Word that stays busy is taken for Word", "*\treject\talways\r\n", false},
    };
    for (const RunningCase& row : runningCases) {
        run(row.name, [&] {
            clearRecording();
            act(row.act);
            const wchar_t* const stopName = L"DocuflumeRecordingWordStop";
            const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stopName);
            PROCESS_INFORMATION process{};
            if (!expect(startBesideUs(L"RecordingWord.exe", std::wstring(L"/running ") + stopName,
                                      process),
                        "the running Word could not be started"))
                return;
            if (expect(waitForLine("start running registered"),
                       "the running Word did not register")) {
                int served = 0;
                WordEngine engine(testLimits(), [&] { ++served; });
                const auto began = std::chrono::steady_clock::now();
                RunningWord found;
                std::wstring failed;
                try {
                    found = engine.findRunning();
                } catch (const ComError& error) {
                    failed = error.description();
                }
                const auto took = std::chrono::steady_clock::now() - began;
                expect(failed.empty(), "no Word found: " + narrow(failed));
                expect(found.answered == row.answers &&
                           found.name == (row.answers ? L"Microsoft Word" : L""),
                       "answered " + std::to_string(found.answered) +
                           ", name: " + narrow(found.name));
                if (!row.answers)
                    expect(served > 0, "the window was not served while Word was asked");
                expect(
                    took < std::chrono::seconds(3),
                    "the check took " +
                        std::to_string(
                            std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) +
                        " ms");
            }
            SetEvent(stop);
            WaitForSingleObject(process.hProcess, 15000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
            CloseHandle(stop);
            if (row.answers) {
                const std::vector<std::string> got = calls();
                expect(got == std::vector<std::string>{"start running registered",
                                                       "invoke Application 0 2 0 0", "end stopped",
                                                       "exit 0"},
                       "the calls were:" + joined(got));
            }
        });
    }

    run("nothing is running: attaching fails", [] {
        clearRecording();
        try {
            WordEngine engine(testLimits());
            engine.findRunning();
            expect(false, "found a Word that is not running");
        } catch (const ComError&) {
        }
        expect(servers().empty(), "a Word was started");
    });

    unregisterRecordingWord();
    clearRecording();
    removeFolder(pagesFolder());
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
