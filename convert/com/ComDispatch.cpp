#include "convert/com/ComDispatch.h"

#include <oleauto.h>

#include <algorithm>
#include <utility>

namespace docuflume::com {
namespace {

// The system's own words for an HRESULT.
std::wstring systemText(HRESULT code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) {
        wchar_t hex[32];
        swprintf(hex, 32, L"COM error 0x%08lX", static_cast<unsigned long>(code));
        text = hex;
    }
    return text;
}

void check(HRESULT code, const std::wstring& what)
{
    if (FAILED(code))
        throw ComError(code, what + L": " + systemText(code));
}

thread_local const BusyRetry* t_busyRetry = nullptr;

// A raw call into a server, tried again while the server rejects it as busy, as the thread's
// filter allows. The patience counts from the first try: where COM has asked the filter
// already (Windows does), that try has spent it, and nothing is tried again here.
template <typename Call> HRESULT retried(Call call)
{
    const auto first = std::chrono::steady_clock::now();
    HRESULT result = call();
    const BusyRetry* filter = BusyRetry::current();
    if (!filter || !ServerWasBusy(result))
        return result;
    while (ServerWasBusy(result)) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - first);
        const std::optional<DWORD> pause = filter->pauseAfter(elapsed);
        if (!pause)
            break;
        Sleep(*pause);
        result = call();
    }
    return result;
}

CLSID classOf(const std::wstring& progId)
{
    CLSID clsid{};
    const HRESULT found = CLSIDFromProgID(progId.c_str(), &clsid);
    if (found == CO_E_CLASSSTRING || found == REGDB_E_CLASSNOTREG)
        throw ComError(found, progId + L" is not registered on this computer.");
    check(found, L"Looking up " + progId);
    return clsid;
}

} // namespace

bool ServerIsGone(HRESULT code) noexcept
{
    switch (code) {
    case HRESULT(0x800706BA): // RPC_S_SERVER_UNAVAILABLE
    case HRESULT(0x800706BE): // RPC_S_CALL_FAILED
    case HRESULT(0x800706BF): // RPC_S_CALL_FAILED_DNE
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
        return true;
    default:
        return false;
    }
}

bool ServerWasBusy(HRESULT code) noexcept
{
    return code == RPC_E_CALL_REJECTED || code == RPC_E_SERVERCALL_RETRYLATER;
}

BusyRetry::BusyRetry(std::chrono::milliseconds patience)
    : m_patience(patience), m_outer(t_busyRetry)
{
    // Only a single-threaded apartment has a filter; elsewhere the retries above still run.
    if (FAILED(CoRegisterMessageFilter(this, &m_previous)))
        m_previous = nullptr;
    t_busyRetry = this;
}

BusyRetry::~BusyRetry()
{
    IMessageFilter* ours = nullptr;
    if (SUCCEEDED(CoRegisterMessageFilter(m_previous, &ours)) && m_previous)
        m_previous->Release();
    t_busyRetry = m_outer;
}

const BusyRetry* BusyRetry::current() noexcept
{
    return t_busyRetry;
}

std::optional<DWORD> BusyRetry::pauseAfter(std::chrono::milliseconds elapsed) const noexcept
{
    if (elapsed >= m_patience)
        return std::nullopt;
    // 100 ms, then twice as long each time, at most a second, never past the patience.
    DWORD pause = 100;
    for (auto waited = std::chrono::milliseconds(0);
         waited + std::chrono::milliseconds(pause) <= elapsed && pause < 1000;) {
        waited += std::chrono::milliseconds(pause);
        pause *= 2;
    }
    pause = std::min<DWORD>(pause, 1000);
    return std::min<DWORD>(pause, DWORD((m_patience - elapsed).count()));
}

HRESULT BusyRetry::QueryInterface(REFIID iid, void** out)
{
    if (iid == IID_IUnknown || iid == IID_IMessageFilter) {
        *out = static_cast<IMessageFilter*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

DWORD BusyRetry::HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO)
{
    return SERVERCALL_ISHANDLED;
}

DWORD BusyRetry::RetryRejectedCall(HTASK, DWORD elapsed, DWORD rejection)
{
    if (rejection != SERVERCALL_RETRYLATER && rejection != SERVERCALL_REJECTED)
        return DWORD(-1);
    const std::optional<DWORD> pause = pauseAfter(std::chrono::milliseconds(elapsed));
    // Below 100 COM would retry at once; -1 gives up, and the call fails as rejected.
    return pause ? std::max<DWORD>(*pause, 100) : DWORD(-1);
}

DWORD BusyRetry::MessagePending(HTASK, DWORD, DWORD)
{
    return PENDINGMSG_WAITDEFPROCESS;
}

ComError::ComError(HRESULT code, std::wstring description)
    : m_code(code), m_description(std::move(description))
{}

Variant::Variant() noexcept
{
    VariantInit(&m_value);
}

Variant::Variant(const wchar_t* text) : Variant()
{
    m_value.vt = VT_BSTR;
    m_value.bstrVal = SysAllocString(text);
}

Variant::Variant(const std::wstring& text) : Variant()
{
    m_value.vt = VT_BSTR;
    m_value.bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
}

Variant::Variant(bool value) noexcept : Variant()
{
    m_value.vt = VT_BOOL;
    m_value.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant::Variant(std::int32_t value) noexcept : Variant()
{
    m_value.vt = VT_I4;
    m_value.lVal = value;
}

Variant::Variant(const Variant& other) : Variant()
{
    // The API takes the source as non-const; it does not change it.
    check(VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value)), L"Copying a value");
}

Variant::Variant(Variant&& other) noexcept : m_value(other.m_value)
{
    VariantInit(&other.m_value);
}

Variant& Variant::operator=(Variant other) noexcept
{
    std::swap(m_value, other.m_value);
    return *this;
}

Variant::~Variant()
{
    VariantClear(&m_value);
}

VARIANT* Variant::receive() noexcept
{
    VariantClear(&m_value);
    return &m_value;
}

std::wstring Variant::toString() const
{
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&m_value), 0, VT_BSTR)))
        return {};
    std::wstring result(text.bstrVal ? text.bstrVal : L"",
                        text.bstrVal ? SysStringLen(text.bstrVal) : 0);
    VariantClear(&text);
    return result;
}

std::optional<bool> Variant::toBool() const
{
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&m_value), 0, VT_BOOL)))
        return std::nullopt;
    return converted.boolVal != VARIANT_FALSE;
}

std::optional<std::int32_t> Variant::toInt32() const
{
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&m_value), 0, VT_I4)))
        return std::nullopt;
    return std::int32_t(converted.lVal);
}

IDispatch* Variant::dispatch() const
{
    if (m_value.vt != VT_DISPATCH || !m_value.pdispVal)
        return nullptr;
    m_value.pdispVal->AddRef();
    return m_value.pdispVal;
}

Apartment::Apartment()
{
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // S_FALSE: this thread's apartment was there already; it is released all the same.
    m_initialised = SUCCEEDED(result);
    if (!m_initialised && result != RPC_E_CHANGED_MODE)
        throw ComError(result, L"COM could not be started: " + systemText(result));
}

Apartment::~Apartment()
{
    if (m_initialised)
        CoUninitialize();
}

Dispatch::Dispatch(const Dispatch& other) noexcept : m_object(other.m_object)
{
    if (m_object)
        m_object->AddRef();
}

Dispatch::Dispatch(Dispatch&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}

Dispatch& Dispatch::operator=(Dispatch other) noexcept
{
    std::swap(m_object, other.m_object);
    return *this;
}

Dispatch::~Dispatch()
{
    release();
}

void Dispatch::release() noexcept
{
    if (m_object)
        std::exchange(m_object, nullptr)->Release();
}

Dispatch Dispatch::create(const std::wstring& progId)
{
    const CLSID clsid = classOf(progId);
    IDispatch* object = nullptr;
    // CLSCTX_SERVER takes a server in this process or, as Word's, in a process of its own.
    check(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                           reinterpret_cast<void**>(&object)),
          L"Starting " + progId);
    return Dispatch(object);
}

Dispatch Dispatch::attachRunning(const std::wstring& progId)
{
    const CLSID clsid = classOf(progId);
    IUnknown* running = nullptr;
    check(GetActiveObject(clsid, nullptr, &running), progId + L" is not running");
    IDispatch* object = nullptr;
    const HRESULT asked = running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object));
    running->Release();
    check(asked, L"Reaching the running " + progId);
    return Dispatch(object);
}

HRESULT Dispatch::lookUp(const std::wstring& name, DISPID& id) const
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    id = DISPID_UNKNOWN;
    return retried(
        [&] { return m_object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); });
}

DISPID Dispatch::memberId(const std::wstring& name) const
{
    DISPID id = DISPID_UNKNOWN;
    check(lookUp(name, id), L"The member " + name);
    return id;
}

Variant Dispatch::invoke(DISPID member, WORD flags, std::vector<VARIANT>& reversed,
                         std::vector<DISPID>& named, const std::wstring& what) const
{
    if (!m_object)
        throw ComError(E_POINTER, what + L": no object");
    DISPPARAMS parameters{};
    parameters.rgvarg = reversed.empty() ? nullptr : reversed.data();
    parameters.cArgs = UINT(reversed.size());
    parameters.rgdispidNamedArgs = named.empty() ? nullptr : named.data();
    parameters.cNamedArgs = UINT(named.size());
    EXCEPINFO exception{};
    UINT badArgument = 0;
    Variant result;
    const HRESULT called = retried([&] {
        exception = EXCEPINFO{};
        return m_object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                result.receive(), &exception, &badArgument);
    });
    if (called == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        std::wstring description =
            exception.bstrDescription
                ? std::wstring(exception.bstrDescription, SysStringLen(exception.bstrDescription))
                : std::wstring();
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
        const HRESULT code = exception.scode ? exception.scode : HRESULT(exception.wCode);
        throw ComError(code ? code : called, description.empty() ? what + L" failed" : description);
    }
    check(called, what);
    return result;
}

Variant Dispatch::defaultProperty() const
{
    std::vector<VARIANT> none;
    std::vector<DISPID> noNames;
    return invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, none, noNames, L"Reading the name");
}

Variant Dispatch::call(const std::wstring& name, const std::vector<Variant>& arguments) const
{
    if (!m_object)
        throw ComError(E_POINTER, name + L": no object");
    const DISPID member = memberId(name);
    // IDispatch takes the arguments last one first.
    std::vector<VARIANT> reversed;
    for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument)
        reversed.push_back(argument->raw());
    std::vector<DISPID> noNames;
    return invoke(member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, reversed, noNames, name);
}

Variant Dispatch::callNamed(const std::wstring& name,
                            const std::vector<NamedValue>& arguments) const
{
    if (!m_object)
        throw ComError(E_POINTER, name + L": no object");
    // The member and its argument names in one request: the server numbers the names
    // within that member.
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(name.c_str())};
    for (const NamedValue& argument : arguments)
        names.push_back(const_cast<LPOLESTR>(argument.name.c_str()));
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    check(retried([&] {
              return m_object->GetIDsOfNames(IID_NULL, names.data(), UINT(names.size()),
                                             LOCALE_USER_DEFAULT, ids.data());
          }),
          L"The member " + name + L" or one of its argument names");
    // Last one first, the values and their names together.
    std::vector<VARIANT> reversed;
    std::vector<DISPID> named;
    for (size_t k = arguments.size(); k-- > 0;) {
        reversed.push_back(arguments[k].value.raw());
        named.push_back(ids[k + 1]);
    }
    return invoke(ids[0], DISPATCH_METHOD, reversed, named, name);
}

namespace {

Dispatch objectIn(const Variant& result, const std::wstring& name)
{
    IDispatch* object = result.dispatch();
    if (!object)
        throw ComError(E_NOINTERFACE, name + L" returned no object");
    return Dispatch(object);
}

} // namespace

Dispatch Dispatch::object(const std::wstring& name, const std::vector<Variant>& arguments) const
{
    return objectIn(call(name, arguments), name);
}

Dispatch Dispatch::objectNamed(const std::wstring& name,
                               const std::vector<NamedValue>& arguments) const
{
    return objectIn(callNamed(name, arguments), name);
}

void Dispatch::put(const std::wstring& name, const Variant& value) const
{
    if (!m_object)
        throw ComError(E_POINTER, name + L": no object");
    const DISPID member = memberId(name);
    std::vector<VARIANT> reversed{value.raw()};
    std::vector<DISPID> named{DISPID_PROPERTYPUT};
    invoke(member, DISPATCH_PROPERTYPUT, reversed, named, name);
}

bool Dispatch::has(const std::wstring& name) const
{
    if (!m_object)
        throw ComError(E_POINTER, name + L": no object");
    DISPID id = DISPID_UNKNOWN;
    const HRESULT found = lookUp(name, id);
    if (found == DISP_E_UNKNOWNNAME)
        return false;
    check(found, L"The member " + name);
    return true;
}

} // namespace docuflume::com
