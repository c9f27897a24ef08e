// The COM automation layer against the recording Word, under Wine (or Windows): the calls
// the program makes of Word, as Word receives them. Prints "N passed, M failed".
//
//     tst_com.exe        (RecordingWord.exe beside it)

#include "convert/com/ComDispatch.h"
#include "convert/com/WordCalls.h"

#include <windows.h>

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
    DeleteFileW(besideUs(L"RecordingWord.fail").c_str());
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

// One export as the program makes it: start, open, save when a flavour is chosen, quit,
// and quit also when a step failed. The failure's description, if any.
std::wstring exportDocument(const std::wstring& source, const std::wstring& output, int format)
{
    const Dispatch application = word::start();
    std::wstring failure;
    try {
        Dispatch document = word::open(application, source);
        if (format)
            word::saveAs(document, saveArguments(output, format));
    } catch (const ComError& error) {
        failure = error.description();
    }
    try {
        word::quit(application);
    } catch (const ComError&) {
    }
    return failure;
}

void endsWithOneServer(const std::vector<std::string>& expected)
{
    const std::vector<std::string> got = calls();
    expect(servers().size() == 1, "one Word started, got " + std::to_string(servers().size()));
    expect(got == expected, "the calls were:" + joined(got) + "\n  expected:" + joined(expected));
}

} // namespace

int main()
{
    Apartment apartment;

    run("missing Word.Application is reported as such", [] {
        unregisterRecordingWord();
        try {
            word::start();
            expect(false, "a Word was started");
        } catch (const ComError& error) {
            expect(error.description() == L"Word.Application is not registered on this computer.",
                   "description: " + narrow(error.description()));
        }
    });

    registerRecordingWord();

    run("start-up test: one create, one Quit", [] {
        clearRecording();
        {
            const Dispatch application = word::start();
            word::quit(application);
        }
        waitForLine("end quit");
        endsWithOneServer({"start embedding", "names Application Quit 1105",
                           "invoke Application 1105 3 0 0", "end quit"});
    });

    run("one export: Documents, Open with one argument, SaveAs with eleven named, Quit", [] {
        clearRecording();
        const std::wstring failure =
            exportDocument(L"C:\\Docs\\report.docx", L"C:\\Out\\report.htm", 10);
        expect(failure.empty(), "failed: " + narrow(failure));
        waitForLine("end quit");
        // Named arguments arrive last one first, each value with its name's number.
        endsWithOneServer(
            {"start embedding", "names Application Documents 6", "invoke Application 6 3 0 0",
             "names Documents Open 19", "invoke Documents 19 3 1 0 -:8:C:\\Docs\\report.docx",
             "names Document SaveAs,fileName,FileFormat,LockComments,Password,AddToRecentFiles,"
             "WritePassword,ReadOnlyRecommended,EmbedTrueTypeFonts,SaveNativePictureFormat,"
             "SaveFormsData,SaveAsAOCELetter 375,0,1,2,3,4,5,6,7,8,9,10",
             "invoke Document 375 1 11 11 10:11:False 9:11:False 8:11:False 7:11:False "
             "6:11:False 5:8: 4:11:True 3:8: 2:11:False 1:3:10 0:8:C:\\Out\\report.htm",
             "names Application Quit 1105", "invoke Application 1105 3 0 0", "end quit"});
    });

    run("no flavour: opened and quit, never saved", [] {
        clearRecording();
        expect(exportDocument(L"C:\\Docs\\a.doc", L"C:\\Out\\a.htm", 0).empty(), "failed");
        waitForLine("end quit");
        endsWithOneServer(
            {"start embedding", "names Application Documents 6", "invoke Application 6 3 0 0",
             "names Documents Open 19", "invoke Documents 19 3 1 0 -:8:C:\\Docs\\a.doc",
             "names Application Quit 1105", "invoke Application 1105 3 0 0", "end quit"});
    });

    run("a failing Open is reported with Word's description, and Word still quits", [] {
        clearRecording();
        writeFile(besideUs(L"RecordingWord.fail"), "Open\tThis file could not be found.\r\n");
        const std::wstring failure = exportDocument(L"C:\\Docs\\gone.doc", L"C:\\Out\\gone.htm", 8);
        expect(failure == L"This file could not be found.", "failure: " + narrow(failure));
        waitForLine("end quit");
        endsWithOneServer(
            {"start embedding", "names Application Documents 6", "invoke Application 6 3 0 0",
             "names Documents Open 19", "invoke Documents 19 3 1 0 -:8:C:\\Docs\\gone.doc",
             "names Application Quit 1105", "invoke Application 1105 3 0 0", "end quit"});
    });

    run("running test: \"Microsoft Word\" exactly, never quit", [] {
        clearRecording();
        const wchar_t* const stopName = L"DocuflumeRecordingWordStop";
        const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stopName);
        std::wstring command = L"\"" + besideUs(L"RecordingWord.exe") + L"\" /running " + stopName;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!expect(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process),
                    "the running Word could not be started"))
            return;
        if (expect(waitForLine("start running registered"), "the running Word did not register")) {
            Dispatch running = word::running();
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
                                               "invoke Application 0 2 0 0", "end stopped"},
               "the calls were:" + joined(got));
    });

    run("nothing is running: attaching fails", [] {
        clearRecording();
        try {
            word::running();
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
