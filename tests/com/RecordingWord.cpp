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
//     <pid> TAB exit TAB <objects still referenced>
//
// Lines "<Member> TAB <act> [TAB <argument>]" in RecordingWord.act beside it, read at each
// call, make it misbehave as a real Word may:
//     fail TAB <description>   the member fails with that description, as Word raises errors
//     stall                    the call never returns (a dialog nobody sees)
//     die                      the process ends in the middle of the call
//     missing                  no such member (an older Word)
//     linger                   (Quit) answered, but the process never ends
//     reject TAB <n>|always    (member *) the next n calls are refused as busy
// The member CreateInstance stands for the start itself. Started with /running, it
// registers itself as the running Word and stays until the event named on its command line
// is set.
//
//     RecordingWord.exe -Embedding | /running EVENT_NAME

#include <windows.h>

#include <oleauto.h>

#include <cwctype>
#include <string>
#include <utility>
#include <vector>

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

std::wstring besideUs(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
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

// Acts that end or hold the call where it is.
void misbehave(const Act& act)
{
    if (act.what == L"stall") {
        record(L"stalled");
        Sleep(600000);
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
            if (InterlockedDecrement(&g_objects) == 0 && !g_running && !g_linger) {
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

constexpr DISPID kSaveAs = 0x177;
constexpr DISPID kOpen = 0x13;
constexpr DISPID kOpenNoRepairDialog = 0x20;
constexpr DISPID kDocuments = 0x6;
constexpr DISPID kQuit = 0x451;
constexpr DISPID kDisplayAlerts = 0x5e;
constexpr DISPID kAutomationSecurity = 0x1a3;

class Document final : public Object
{
public:
    Document() : Object(L"Document", {{L"SaveAs", kSaveAs, kSaveAsParameters}}) {}

protected:
    HRESULT answer(DISPID member, WORD, DISPPARAMS*, VARIANT*) override
    {
        return member == kSaveAs ? S_OK : DISP_E_MEMBERNOTFOUND;
    }
};

class Documents final : public Object
{
public:
    Documents()
        : Object(L"Documents", {{L"Open", kOpen, kOpenParameters},
                                {L"OpenNoRepairDialog", kOpenNoRepairDialog, kOpenParameters}})
    {}

protected:
    HRESULT answer(DISPID member, WORD, DISPPARAMS* parameters, VARIANT* result) override
    {
        if (member != kOpen && member != kOpenNoRepairDialog)
            return DISP_E_MEMBERNOTFOUND;
        if (parameters->cArgs < 1)
            return DISP_E_BADPARAMCOUNT;
        returnObject(result, new Document);
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
                  {L"AutomationSecurity", kAutomationSecurity}})
    {}

protected:
    HRESULT answer(DISPID member, WORD flags, DISPPARAMS*, VARIANT* result) override
    {
        switch (member) {
        case DISPID_VALUE:
            if (result) {
                VariantInit(result);
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(L"Microsoft Word");
            }
            return S_OK;
        case kDocuments:
            returnObject(result, new Documents);
            return S_OK;
        case kDisplayAlerts:
        case kAutomationSecurity:
            return flags & DISPATCH_PROPERTYPUT ? S_OK : DISP_E_MEMBERNOTFOUND;
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

int wmain(int argc, wchar_t* argv[])
{
    g_mainThread = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    static BusyFilter busy;
    if (const Act reject = actFor(L"*"); reject.what == L"reject") {
        g_rejections = reject.argument == L"always" ? -1 : _wtol(reject.argument.c_str());
        CoRegisterMessageFilter(&busy, nullptr);
    }
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"/running" && argc > 2) {
        g_running = true;
        const HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
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
    CoUninitialize();
    return 0;
}
