// A recording stand-in for Word's automation server, for the tests under Wine: an
// out-of-process COM server registered as "Word.Application" that answers for the
// application, its Documents and a document, and writes every call it gets, as it got it,
// into RecordingWord.log beside itself:
//
//     <pid> TAB start TAB embedding|running
//     <pid> TAB names TAB <object> TAB <name,name,...> TAB <id,id,...>
//     <pid> TAB invoke TAB <object> TAB <dispid> TAB <flags> TAB <args> TAB <named> TAB <arg>...
//         each <arg> as "<named dispid or ->:<VARTYPE>:<value>", in the order of rgvarg
//     <pid> TAB end TAB quit|released|stopped
//     <pid> TAB rejected                         a call refused as busy
//     <pid> TAB taken over                       the user's own start landed in it
//     <pid> TAB sibling TAB <pid>                another Word started beside it
//     <pid> TAB exit TAB <objects still referenced>
//
// Lines "<Member> TAB <act> [TAB <argument>]" in RecordingWord.act beside it, read at each
// call, make it misbehave as a real Word may:
//     fail TAB <description>   the member fails with that description, as Word raises errors
//     stall [TAB <ms>]         the call never returns (a dialog nobody sees), or only late
//     die                      the process ends in the middle of the call
//     missing                  no such member (an older Word)
//     linger                   (Quit) answered, but the process never ends
//     reject TAB <n>|always    (member *) the next n calls are refused as busy
//     takeover                 before answering, the user starts Word and lands in this
//                              instance: it shows a document of theirs, visible, and stays
//     nowindow                 (Caption) taken, but shown in no window
//     sibling                  (CreateInstance) another Word starts at the same moment
// The member CreateInstance stands for the start itself. Like Word it has a hidden main
// window of class OpusApp that shows its Caption, and SaveAs writes a page with a folder of
// pictures beside it, the folder and half the page before the act. Started with /running,
// it registers itself as the running Word and stays until the event named on its command
// line is set; with /idle it only runs (a Word of the user's) until it is ended. /home
// FOLDER puts the log and the act file there instead of beside it.
//
//     RecordingWord.exe [/home FOLDER] -Embedding | /running EVENT_NAME | /idle

#include <windows.h>

#include <oleauto.h>

#include <cwctype>
#include <string>
#include <utility>
#include <vector>

// COM interfaces have no virtual destructor: objects are released through them, never
// deleted through them.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

namespace {

// {6C1E4D2A-9B7F-4E3A-8D51-2F0C77943BA1}
const CLSID kClass = {0x6c1e4d2a, 0x9b7f, 0x4e3a, {0x8d, 0x51, 0x2f, 0x0c, 0x77, 0x94, 0x3b, 0xa1}};

DWORD g_mainThread = 0;
LONG g_objects = 0;
bool g_running = false; // registered as the running Word: stays when released
bool g_quit = false;    // told to quit: ends, whatever is released after
bool g_linger = false;  // told to quit, and never ends
LONG g_rejections = 0;  // calls still to refuse as busy; -1: all
DWORD g_factoryCookie = 0;
const UINT kRevokeFactory = WM_APP + 1;
std::wstring g_home;             // where the log and the act file are; empty: beside us
HWND g_window = nullptr;         // the main window, hidden as an automation start's is
bool g_visible = false;          // Application.Visible
bool g_takenOver = false;        // the user works in it: it stays when released
LONG g_openDocuments = 0;        // opened through automation and not closed
bool g_updateLinksAtOpen = true; // Options.UpdateLinksAtOpen, a setting of the user's

std::wstring ownPath()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring besideUs(const wchar_t* name)
{
    if (!g_home.empty())
        return g_home + L"\\" + name;
    const std::wstring own = ownPath();
    return own.substr(0, own.find_last_of(L"\\/") + 1) + name;
}

void record(const std::wstring& line)
{
    const std::wstring full = std::to_wstring(GetCurrentProcessId()) + L"\t" + line + L"\r\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, full.c_str(), int(full.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, full.c_str(), int(full.size()), bytes.data(), size, nullptr,
                        nullptr);
    // Appends in one write, so that the lines of several servers never mix.
    const HANDLE log = CreateFileW(besideUs(L"RecordingWord.log").c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(log, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(log);
}

struct Act
{
    std::wstring what; // empty: none
    std::wstring argument;
};

// What the act file asks of the member, if anything.
Act actFor(const std::wstring& member)
{
    const HANDLE file = CreateFileW(besideUs(L"RecordingWord.act").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    std::wstring text(read, L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, buffer, int(read), text.data(), int(read)));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        while (!line.empty() && line.back() == L'\r')
            line.pop_back();
        const size_t tab = line.find(L'\t');
        if (tab != std::wstring::npos && line.substr(0, tab) == member) {
            const std::wstring rest = line.substr(tab + 1);
            const size_t second = rest.find(L'\t');
            if (second == std::wstring::npos)
                return {rest, {}};
            return {rest.substr(0, second), rest.substr(second + 1)};
        }
        start = end + 1;
    }
    return {};
}

// The user starts Word, and Word hands them this instance: it shows their document.
void takeOver()
{
    if (g_takenOver)
        return;
    record(L"taken over");
    g_takenOver = true;
    g_visible = true;
    if (g_window)
        ShowWindow(g_window, SW_SHOWNOACTIVATE);
}

// Starts another Word, as a user may at the very moment ours starts.
void startSibling()
{
    std::wstring command = L"\"" + ownPath() + L"\" /idle";
    if (!g_home.empty())
        command += L" /home \"" + g_home + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No console of its own: it needs none.
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                       nullptr, &startup, &process)) {
        record(L"sibling\t" + std::to_wstring(process.dwProcessId));
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

// Acts that end or hold the call where it is, or change what is around it.
void misbehave(const Act& act)
{
    if (act.what == L"stall") {
        record(L"stalled");
        Sleep(act.argument.empty() ? 600000 : DWORD(_wtol(act.argument.c_str())));
    } else if (act.what == L"takeover") {
        takeOver();
    } else if (act.what == L"sibling") {
        startSibling();
    } else if (act.what == L"die") {
        record(L"died");
        ExitProcess(3);
    }
}

std::wstring describe(const VARIANT& value)
{
    switch (value.vt) {
    case VT_BSTR:
        return value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : L"";
    case VT_I4:
        return std::to_wstring(value.lVal);
    case VT_I2:
        return std::to_wstring(value.iVal);
    case VT_BOOL:
        return value.boolVal == VARIANT_TRUE ? L"True" : value.boolVal ? L"?" : L"False";
    default:
        return L"";
    }
}

bool sameName(const wchar_t* a, const wchar_t* b)
{
    return _wcsicmp(a, b) == 0; // Basic's names know no case
}

struct Member
{
    const wchar_t* name;
    DISPID id;
    std::vector<const wchar_t*> parameters = {}; // as Word's type library numbers them
};

// The parameters of Open and OpenNoRepairDialog, as Word documents them.
const std::vector<const wchar_t*> kOpenParameters = {L"FileName",
                                                     L"ConfirmConversions",
                                                     L"ReadOnly",
                                                     L"AddToRecentFiles",
                                                     L"PasswordDocument",
                                                     L"PasswordTemplate",
                                                     L"Revert",
                                                     L"WritePasswordDocument",
                                                     L"WritePasswordTemplate",
                                                     L"Format",
                                                     L"Encoding",
                                                     L"Visible",
                                                     L"OpenAndRepair",
                                                     L"DocumentDirection",
                                                     L"NoEncodingDialog",
                                                     L"XMLTransform"};

const std::vector<const wchar_t*> kSaveAsParameters = {L"FileName",
                                                       L"FileFormat",
                                                       L"LockComments",
                                                       L"Password",
                                                       L"AddToRecentFiles",
                                                       L"WritePassword",
                                                       L"ReadOnlyRecommended",
                                                       L"EmbedTrueTypeFonts",
                                                       L"SaveNativePictureFormat",
                                                       L"SaveFormsData",
                                                       L"SaveAsAOCELetter",
                                                       L"Encoding",
                                                       L"InsertLineBreaks",
                                                       L"AllowSubstitutions",
                                                       L"LineEnding",
                                                       L"AddBiDiMarks"};

class Object : public IDispatch
{
public:
    Object(const wchar_t* kind, std::vector<Member> members)
        : m_kind(kind), m_members(std::move(members))
    {
        InterlockedIncrement(&g_objects);
    }
    virtual ~Object() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&m_references);
        if (left == 0) {
            delete this;
            if (InterlockedDecrement(&g_objects) == 0 && !g_running && !g_linger && !g_takenOver) {
                if (!g_quit)
                    record(L"end\treleased");
                PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
            }
        }
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override
    {
        std::wstring asked, given;
        HRESULT result = S_OK;
        const Member* found = nullptr;
        for (UINT k = 0; k < count; ++k) {
            ids[k] = DISPID_UNKNOWN;
            if (k == 0) {
                for (const Member& member : m_members) {
                    if (sameName(names[0], member.name) && actFor(member.name).what != L"missing")
                        found = &member;
                }
                if (found)
                    ids[0] = found->id;
            } else if (found) {
                for (size_t p = 0; p < found->parameters.size(); ++p) {
                    if (sameName(names[k], found->parameters[p]))
                        ids[k] = DISPID(p);
                }
            }
            if (ids[k] == DISPID_UNKNOWN)
                result = DISP_E_UNKNOWNNAME;
            asked += (k ? L"," : L"") + std::wstring(names[k]);
            given += (k ? L"," : L"") + std::to_wstring(ids[k]);
        }
        record(L"names\t" + m_kind + L"\t" + asked + L"\t" + given);
        return result;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT*) override
    {
        std::wstring line = L"invoke\t" + m_kind + L"\t" + std::to_wstring(member) + L"\t" +
                            std::to_wstring(flags) + L"\t" + std::to_wstring(parameters->cArgs) +
                            L"\t" + std::to_wstring(parameters->cNamedArgs);
        for (UINT k = 0; k < parameters->cArgs; ++k) {
            const std::wstring named = k < parameters->cNamedArgs
                                           ? std::to_wstring(parameters->rgdispidNamedArgs[k])
                                           : L"-";
            line += L"\t" + named + L":" + std::to_wstring(parameters->rgvarg[k].vt) + L":" +
                    describe(parameters->rgvarg[k]);
        }
        record(line);
        const wchar_t* name = L"";
        for (const Member& known : m_members) {
            if (known.id == member)
                name = known.name;
        }
        const Act act = actFor(name);
        prepare(member, parameters);
        misbehave(act);
        if (act.what == L"fail") {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->scode = HRESULT(0x800A1066); // Word's "command failed"
                exception->bstrSource = SysAllocString(L"Microsoft Word");
                exception->bstrDescription = SysAllocString(act.argument.c_str());
            }
            return DISP_E_EXCEPTION;
        }
        return answer(member, flags, parameters, result);
    }

protected:
    // What the member does before its act, if anything.
    virtual void prepare(DISPID, DISPPARAMS*) {}
    virtual HRESULT answer(DISPID member, WORD flags, DISPPARAMS* parameters, VARIANT* result) = 0;

private:
    LONG m_references = 1;
    std::wstring m_kind;
    std::vector<Member> m_members;
};

void returnObject(VARIANT* result, IDispatch* object)
{
    if (result) {
        VariantInit(result);
        result->vt = VT_DISPATCH;
        result->pdispVal = object;
    } else {
        object->Release();
    }
}

void returnText(VARIANT* result, const std::wstring& text)
{
    if (result) {
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
    }
}

void returnBool(VARIANT* result, bool value)
{
    if (result) {
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
}

// The value given to a property put, or the named argument numbered `id`.
const VARIANT* argument(const DISPPARAMS* parameters, DISPID id)
{
    for (UINT k = 0; k < parameters->cNamedArgs && k < parameters->cArgs; ++k) {
        if (parameters->rgdispidNamedArgs[k] == id)
            return &parameters->rgvarg[k];
    }
    return nullptr;
}

void writeBytes(const std::wstring& path, const std::string& bytes, DWORD disposition)
{
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

constexpr DISPID kSaveAs = 0x177;
constexpr DISPID kClose = 0x451;
constexpr DISPID kOpen = 0x13;
constexpr DISPID kOpenNoRepairDialog = 0x20;
constexpr DISPID kCount = 0x2;
constexpr DISPID kDocuments = 0x6;
constexpr DISPID kCaption = 0x8;
constexpr DISPID kVisible = 0x17;
constexpr DISPID kOptions = 0x5d;
constexpr DISPID kQuit = 0x451;
constexpr DISPID kDisplayAlerts = 0x5e;
constexpr DISPID kAutomationSecurity = 0x1a3;
constexpr DISPID kUpdateLinksAtOpen = 0x1e;

// A page as Word saves one as a web page: the page, and its pictures in a folder beside it.
const std::string kPage = "<html><body><p>Saved by the recording Word.</p>"
                          "<img src=\"report_files/image001.png\"></body></html>";

class Document final : public Object
{
public:
    Document()
        : Object(L"Document",
                 {{L"SaveAs", kSaveAs, kSaveAsParameters},
                  {L"Close", kClose, {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}}})
    {}

protected:
    // The folder and half the page are written before the act, as a Word that stalls or
    // dies in the middle of a save leaves them.
    void prepare(DISPID member, DISPPARAMS* parameters) override
    {
        const VARIANT* name = argument(parameters, 0);
        if (member != kSaveAs || !name || name->vt != VT_BSTR || !name->bstrVal)
            return;
        m_page = name->bstrVal;
        const size_t slash = m_page.find_last_of(L"\\/");
        const size_t dot = m_page.find_last_of(L'.');
        const std::wstring stem =
            dot != std::wstring::npos && dot > slash + 1 ? m_page.substr(0, dot) : m_page;
        CreateDirectoryW((stem + L"_files").c_str(), nullptr);
        writeBytes(stem + L"_files\\image001.png", "\x89PNG picture", CREATE_ALWAYS);
        writeBytes(m_page, kPage.substr(0, kPage.size() / 2), CREATE_ALWAYS);
    }
    HRESULT answer(DISPID member, WORD, DISPPARAMS*, VARIANT*) override
    {
        switch (member) {
        case kSaveAs:
            if (!m_page.empty())
                writeBytes(m_page, kPage.substr(kPage.size() / 2), OPEN_EXISTING);
            return S_OK;
        case kClose:
            InterlockedDecrement(&g_openDocuments);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    std::wstring m_page;
};

class Documents final : public Object
{
public:
    Documents()
        : Object(L"Documents", {{L"Open", kOpen, kOpenParameters},
                                {L"OpenNoRepairDialog", kOpenNoRepairDialog, kOpenParameters},
                                {L"Count", kCount}})
    {}

protected:
    HRESULT answer(DISPID member, WORD, DISPPARAMS* parameters, VARIANT* result) override
    {
        if (member == kCount) {
            if (result) {
                VariantInit(result);
                result->vt = VT_I4;
                result->lVal = g_openDocuments + (g_takenOver ? 1 : 0);
            }
            return S_OK;
        }
        if (member != kOpen && member != kOpenNoRepairDialog)
            return DISP_E_MEMBERNOTFOUND;
        if (parameters->cArgs < 1)
            return DISP_E_BADPARAMCOUNT;
        InterlockedIncrement(&g_openDocuments);
        returnObject(result, new Document);
        return S_OK;
    }
};

class Options final : public Object
{
public:
    Options() : Object(L"Options", {{L"UpdateLinksAtOpen", kUpdateLinksAtOpen}}) {}

protected:
    HRESULT answer(DISPID member, WORD flags, DISPPARAMS* parameters, VARIANT* result) override
    {
        if (member != kUpdateLinksAtOpen)
            return DISP_E_MEMBERNOTFOUND;
        if (flags & DISPATCH_PROPERTYPUT) {
            const VARIANT* value = argument(parameters, DISPID_PROPERTYPUT);
            if (!value || value->vt != VT_BOOL)
                return DISP_E_TYPEMISMATCH;
            g_updateLinksAtOpen = value->boolVal != VARIANT_FALSE;
            return S_OK;
        }
        returnBool(result, g_updateLinksAtOpen);
        return S_OK;
    }
};

class Application final : public Object
{
public:
    Application()
        : Object(L"Application",
                 {{L"Name", DISPID_VALUE},
                  {L"Documents", kDocuments},
                  {L"Quit", kQuit, {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}},
                  {L"DisplayAlerts", kDisplayAlerts},
                  {L"AutomationSecurity", kAutomationSecurity},
                  {L"Caption", kCaption},
                  {L"Visible", kVisible},
                  {L"Options", kOptions}})
    {}

protected:
    HRESULT answer(DISPID member, WORD flags, DISPPARAMS* parameters, VARIANT* result) override
    {
        switch (member) {
        case DISPID_VALUE:
            returnText(result, L"Microsoft Word");
            return S_OK;
        case kDocuments:
            returnObject(result, new Documents);
            return S_OK;
        case kOptions:
            returnObject(result, new Options);
            return S_OK;
        case kDisplayAlerts:
        case kAutomationSecurity:
            return flags & DISPATCH_PROPERTYPUT ? S_OK : DISP_E_MEMBERNOTFOUND;
        case kVisible:
            returnBool(result, g_visible);
            return S_OK;
        case kCaption:
            if (flags & DISPATCH_PROPERTYPUT) {
                const VARIANT* value = argument(parameters, DISPID_PROPERTYPUT);
                if (!value || value->vt != VT_BSTR)
                    return DISP_E_TYPEMISMATCH;
                m_caption = value->bstrVal ? value->bstrVal : L"";
                if (g_window && actFor(L"Caption").what != L"nowindow")
                    SetWindowTextW(g_window, m_caption.c_str());
                return S_OK;
            }
            returnText(result, m_caption);
            return S_OK;
        case kQuit:
            record(L"end\tquit");
            if (actFor(L"Quit").what == L"linger") {
                g_linger = true;
                return S_OK;
            }
            // It ends once its caller has let go (or a few seconds on, with what is still
            // referenced): ending at once could cut off the answer to this very call.
            g_quit = true;
            SetTimer(nullptr, 0, 3000, nullptr);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    std::wstring m_caption = L"Microsoft Word";
};

class Factory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        misbehave(actFor(L"CreateInstance"));
        auto* application = new Application;
        const HRESULT result = application->QueryInterface(iid, out);
        application->Release();
        // One client per process, as every create is to start a fresh Word: the class goes
        // from this server at once, not only when it ends.
        PostThreadMessageW(g_mainThread, kRevokeFactory, 0, 0);
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Refuses calls as a busy Word does, while the act file asks for it.
class BusyFilter final : public IMessageFilter
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IMessageFilter) {
            *out = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO call) override
    {
        // Only the calls of the automation interface: COM's own (releases among them) pass.
        if (!call || call->iid != IID_IDispatch || g_rejections == 0)
            return SERVERCALL_ISHANDLED;
        if (g_rejections > 0)
            --g_rejections;
        record(L"rejected");
        return SERVERCALL_REJECTED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return DWORD(-1); }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override
    {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};

void pumpUntilQuit(HANDLE stop)
{
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(stop ? 1 : 0, stop ? &stop : nullptr, FALSE,
                                                     INFINITE, QS_ALLINPUT);
        if (stop && woke == WAIT_OBJECT_0)
            return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT || (message.message == WM_TIMER && g_quit))
                return;
            if (message.message == kRevokeFactory && g_factoryCookie) {
                CoRevokeClassObject(std::exchange(g_factoryCookie, 0));
                continue;
            }
            DispatchMessageW(&message);
        }
    }
}

} // namespace

// Word's main window: hidden, as an instance started through automation keeps it.
HWND makeMainWindow()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OpusApp";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, L"OpusApp", L"Microsoft Word", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                           nullptr, nullptr, windowClass.hInstance, nullptr);
}

int wmain(int argc, wchar_t* argv[])
{
    g_mainThread = GetCurrentThreadId();
    std::wstring mode, stopEvent;
    for (int k = 1; k < argc; ++k) {
        const std::wstring word = argv[k];
        if (word == L"/home" && k + 1 < argc)
            g_home = argv[++k];
        else if (word == L"/running" && k + 1 < argc)
            mode = word, stopEvent = argv[++k];
        else if (word == L"/idle")
            mode = word;
    }
    if (mode == L"/idle") {
        record(L"start\tidle");
        Sleep(INFINITE);
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_window = makeMainWindow();
    static BusyFilter busy;
    if (const Act reject = actFor(L"*"); reject.what == L"reject") {
        g_rejections = reject.argument == L"always" ? -1 : _wtol(reject.argument.c_str());
        CoRegisterMessageFilter(&busy, nullptr);
    }
    if (mode == L"/running") {
        g_running = true;
        const HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, stopEvent.c_str());
        auto* application = new Application;
        DWORD registration = 0;
        const HRESULT registered =
            RegisterActiveObject(application, kClass, ACTIVEOBJECT_STRONG, &registration);
        record(std::wstring(L"start\trunning\t") +
               (SUCCEEDED(registered) ? L"registered" : L"failed"));
        pumpUntilQuit(stop);
        RevokeActiveObject(registration, nullptr);
        application->Release();
        record(L"end\tstopped");
    } else {
        static Factory factory;
        const HRESULT registered = CoRegisterClassObject(kClass, &factory, CLSCTX_LOCAL_SERVER,
                                                         REGCLS_SINGLEUSE, &g_factoryCookie);
        record(std::wstring(L"start\tembedding") + (SUCCEEDED(registered) ? L"" : L"\tfailed"));
        pumpUntilQuit(nullptr);
        if (g_factoryCookie)
            CoRevokeClassObject(g_factoryCookie);
    }
    record(L"exit\t" + std::to_wstring(g_objects));
    if (g_window)
        DestroyWindow(g_window);
    CoUninitialize();
    return 0;
}
