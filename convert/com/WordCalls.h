#pragma once

// The calls the program makes of Word, in Word's own member names: the Windows engine makes
// them, and the test under Wine makes them of a recording Word.

#include "convert/com/ComDispatch.h"

namespace docuflume::com::word {

inline const wchar_t* const kClassName = L"Word.Application";

// A fresh instance of Word of our own.
inline Dispatch start()
{
    return Dispatch::create(kClassName);
}

// The Word the user is running, for its name only.
inline Dispatch running()
{
    return Dispatch::attachRunning(kClassName);
}

// The application's name, its default property ("Microsoft Word").
inline std::wstring name(const Dispatch& application)
{
    return application.defaultProperty().toString();
}

// Documents, then Open with the path as its one positional argument.
inline Dispatch open(const Dispatch& application, const std::wstring& path)
{
    return application.object(L"Documents").object(L"Open", {Variant(path)});
}

// SaveAs with its arguments under their names, in the order given.
inline void saveAs(const Dispatch& document, const std::vector<NamedValue>& arguments)
{
    document.callNamed(L"SaveAs", arguments);
}

// Quit, with no arguments.
inline void quit(const Dispatch& application)
{
    application.call(L"Quit");
}

} // namespace docuflume::com::word
