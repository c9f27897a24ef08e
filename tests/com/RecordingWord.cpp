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
//
// A line "<Member> TAB <description>" in RecordingWord.fail beside it makes that member
// fail with that description, as Word raises its errors. Started with /running, it
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

// The description the failure file gives the member, if any.
std::wstring failureFor(const std::wstring& member)
{
    const HANDLE file = CreateFileW(besideUs(L"RecordingWord.fail").c_str(), GENERIC_READ,
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
        if (tab != std::wstring::npos && line.substr(0, tab) == member)
            return line.substr(tab + 1);
        start = end + 1;
    }
    return {};
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
};

// SaveAs's parameters as Word's type library numbers them.
const wchar_t* const kSaveAsParameters[] = {L"FileName",
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
            if (InterlockedDecrement(&g_objects) == 0 && !g_running) {
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
        for (UINT k = 0; k < count; ++k) {
            ids[k] = DISPID_UNKNOWN;
            if (k == 0) {
                for (const Member& member : m_members) {
                    if (sameName(names[0], member.name))
                        ids[0] = member.id;
                }
            } else if (ids[0] == kSaveAs) {
                for (DISPID p = 0; p < DISPID(std::size(kSaveAsParameters)); ++p) {
                    if (sameName(names[k], kSaveAsParameters[p]))
                        ids[k] = p;
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
        if (const std::wstring failure = failureFor(name); !failure.empty()) {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->scode = HRESULT(0x800A1066); // Word's "command failed"
                exception->bstrSource = SysAllocString(L"Microsoft Word");
                exception->bstrDescription = SysAllocString(failure.c_str());
            }
            return DISP_E_EXCEPTION;
        }
        return answer(member, parameters, result);
    }

protected:
    static constexpr DISPID kSaveAs = 0x177;
    virtual HRESULT answer(DISPID member, DISPPARAMS* parameters, VARIANT* result) = 0;

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

class Document final : public Object
{
public:
    Document() : Object(L"Document", {{L"SaveAs", kSaveAs}}) {}

protected:
    HRESULT answer(DISPID member, DISPPARAMS*, VARIANT*) override
    {
        return member == kSaveAs ? S_OK : DISP_E_MEMBERNOTFOUND;
    }
};

class Documents final : public Object
{
public:
    Documents() : Object(L"Documents", {{L"Open", 0x13}}) {}

protected:
    HRESULT answer(DISPID member, DISPPARAMS* parameters, VARIANT* result) override
    {
        if (member != 0x13)
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
        : Object(L"Application", {{L"Name", DISPID_VALUE}, {L"Documents", 0x6}, {L"Quit", 0x451}})
    {}

protected:
    HRESULT answer(DISPID member, DISPPARAMS*, VARIANT* result) override
    {
        switch (member) {
        case DISPID_VALUE:
            if (result) {
                VariantInit(result);
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(L"Microsoft Word");
            }
            return S_OK;
        case 0x6:
            returnObject(result, new Documents);
            return S_OK;
        case 0x451:
            // It ends once its caller has let go (or ten seconds on): ending at once could
            // cut off the answer to this very call on its way out.
            record(L"end\tquit");
            g_quit = true;
            SetTimer(nullptr, 0, 10000, nullptr);
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
    CoUninitialize();
    return 0;
}
