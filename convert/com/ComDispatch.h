#pragma once

// Objects reached by member name at run time through COM's IDispatch, as Word's automation
// interface is: plain C++ and Win32, no Qt, so that it is built with mingw-w64 and tested
// under Wine against a COM server of our own.

#include <windows.h>

#include <oaidl.h>
#include <objidl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace docuflume::com {

// A COM call that failed: its HRESULT, and the description the server gave with it (or the
// system's text for the HRESULT when it gave none).
class ComError : public std::exception
{
public:
    ComError(HRESULT code, std::wstring description);
    HRESULT code() const noexcept { return m_code; }
    const std::wstring& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return "COM call failed"; }

private:
    HRESULT m_code;
    std::wstring m_description;
};

// A VARIANT that owns what it holds.
class Variant
{
public:
    Variant() noexcept;
    Variant(const wchar_t* text);
    Variant(const std::wstring& text);
    Variant(bool value) noexcept;
    Variant(std::int32_t value) noexcept;
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant other) noexcept;
    ~Variant();

    VARTYPE type() const noexcept { return m_value.vt; }
    const VARIANT& raw() const noexcept { return m_value; }
    VARIANT* receive() noexcept; // cleared, for a call to fill in
    // The value as text, as COM converts it; empty when it cannot be converted.
    std::wstring toString() const;
    // The value as a boolean or a number, as COM converts it; nothing when it cannot be.
    std::optional<bool> toBool() const;
    std::optional<std::int32_t> toInt32() const;
    // The object it holds, with a reference of its own; null when it holds none.
    IDispatch* dispatch() const;

private:
    VARIANT m_value;
};

// COM initialised on the calling thread, as an apartment of its own (single-threaded, as a
// window's thread must be), for as long as this lives.
class Apartment
{
public:
    Apartment();
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    bool m_initialised = false;
};

// A server that is busy (a dialog open, a document loading) rejects the calls made into it:
// "call was rejected by callee". Registered on the calling thread's apartment, this filter
// has COM retry them with a growing pause until `patience` has gone by since the first
// rejection; the calls of this layer retry the same way where COM leaves the rejection to
// the caller (Wine does), within the same patience, counted from the call's first try, so
// that a call COM has retried already is not retried again. A rejected call was never run,
// so trying it again is safe.
// COM interfaces have no virtual destructor: objects are released through them, never
// deleted through them.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class BusyRetry final : public IMessageFilter
{
public:
    explicit BusyRetry(std::chrono::milliseconds patience);
    ~BusyRetry();
    BusyRetry(const BusyRetry&) = delete;
    BusyRetry& operator=(const BusyRetry&) = delete;

    // The pause before the next try of a call first rejected `elapsed` ago, or nothing when
    // its time is up.
    std::optional<DWORD> pauseAfter(std::chrono::milliseconds elapsed) const noexcept;
    std::chrono::milliseconds patience() const noexcept { return m_patience; }
    // The filter registered on the calling thread by this layer, if any.
    static const BusyRetry* current() noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override;
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsed, DWORD rejection) override;
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override;

private:
    std::chrono::milliseconds m_patience;
    IMessageFilter* m_previous = nullptr;
    const BusyRetry* m_outer = nullptr;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// True for the errors a call returns when its server is gone (ended or killed) before or
// while answering.
bool ServerIsGone(HRESULT code) noexcept;
// True for a call the server rejected as busy.
bool ServerWasBusy(HRESULT code) noexcept;

struct NamedValue
{
    std::wstring name;
    Variant value;
};

// A reference to an automation object; releasing it does not end the server.
class Dispatch
{
public:
    Dispatch() noexcept = default;
    explicit Dispatch(IDispatch* adopted) noexcept : m_object(adopted) {}
    Dispatch(const Dispatch& other) noexcept;
    Dispatch(Dispatch&& other) noexcept;
    Dispatch& operator=(Dispatch other) noexcept;
    ~Dispatch();

    // A new object of the class `progId` (such as "Word.Application"), from a server in
    // this process or, as Word is, in a process of its own.
    static Dispatch create(const std::wstring& progId);
    // The object of that class that a running server has registered as active.
    static Dispatch attachRunning(const std::wstring& progId);

    // The default property (DISPID_VALUE), read.
    Variant defaultProperty() const;
    // The member `name`, method or property, called with positional arguments, as a
    // late-bound call in Basic does.
    Variant call(const std::wstring& name, const std::vector<Variant>& arguments = {}) const;
    // The member called with named arguments: the names are resolved with the member in
    // one GetIDsOfNames call and passed as named DISPIDs.
    Variant callNamed(const std::wstring& name, const std::vector<NamedValue>& arguments) const;
    // As call() and callNamed(), for a member that returns an object.
    Dispatch object(const std::wstring& name, const std::vector<Variant>& arguments = {}) const;
    Dispatch objectNamed(const std::wstring& name, const std::vector<NamedValue>& arguments) const;
    // Sets the property `name`, as `Object.Name = value` does.
    void put(const std::wstring& name, const Variant& value) const;
    // Whether the object has a member of that name.
    bool has(const std::wstring& name) const;

    void release() noexcept;
    explicit operator bool() const noexcept { return m_object != nullptr; }

private:
    Variant invoke(DISPID member, WORD flags, std::vector<VARIANT>& reversed,
                   std::vector<DISPID>& named, const std::wstring& what) const;
    HRESULT lookUp(const std::wstring& name, DISPID& id) const;
    DISPID memberId(const std::wstring& name) const;

    IDispatch* m_object = nullptr;
};

} // namespace docuflume::com
