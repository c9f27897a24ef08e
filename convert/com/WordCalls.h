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

// Before anything is opened: no document's macros run (an instance started through
// automation would run them all, with the user's rights), and no alert waits for an answer
// in a window nobody sees.
inline void makeSafe(const Dispatch& application)
{
    application.put(L"AutomationSecurity", Variant(std::int32_t(3))); // ForceDisable
    application.put(L"DisplayAlerts", Variant(std::int32_t(0)));      // wdAlertsNone
}

// The class of Word's main window and of each document's window: shown only once someone
// works in it, never by an instance started through automation.
inline const wchar_t* const kWindowClass = L"OpusApp";

// Word's caption, the text of its windows' titles.
inline std::wstring caption(const Dispatch& application)
{
    return application.call(L"Caption").toString();
}

inline void setCaption(const Dispatch& application, const std::wstring& caption)
{
    application.put(L"Caption", Variant(caption));
}

// Options.UpdateLinksAtOpen: whether a document's links are fetched anew when it opens.
// Word keeps it as a setting of the user's, for every Word they start.
inline bool updatesLinksAtOpen(const Dispatch& options)
{
    return options.call(L"UpdateLinksAtOpen").toBool().value_or(true);
}

inline void setUpdateLinksAtOpen(const Dispatch& options, bool update)
{
    options.put(L"UpdateLinksAtOpen", Variant(update));
}

// Whether the instance is still ours alone: invisible, and with no document open beyond the
// `ours` we opened. A user who starts Word while ours runs may land in it.
inline bool onlyOurs(const Dispatch& application, std::int32_t ours)
{
    if (application.call(L"Visible").toBool().value_or(true))
        return false;
    const std::optional<std::int32_t> count =
        application.object(L"Documents").call(L"Count").toInt32();
    return count && *count <= ours;
}

// Closes a document without saving: read-only, it has nothing of the user's to save.
inline void close(const Dispatch& document)
{
    const std::int32_t doNotSaveChanges = 0; // wdDoNotSaveChanges
    document.callNamed(L"Close", {{L"SaveChanges", Variant(doNotSaveChanges)}});
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

// Given to every document: one protected by a password then fails to open, where without
// a password Word would ask for one. An unprotected document ignores it.
inline const wchar_t* const kNoPassword = L"docuflume: no password known";

// The arguments of the open, in the order Word documents them: read-only (the user's file
// untouched, no owner file beside it), kept out of the recent files, invisible, and no
// question asked about conversions, encodings or passwords.
inline std::vector<NamedValue> openArguments(const std::wstring& path)
{
    return {{L"FileName", Variant(path)},
            {L"ConfirmConversions", Variant(false)},
            {L"ReadOnly", Variant(true)},
            {L"AddToRecentFiles", Variant(false)},
            {L"PasswordDocument", Variant(kNoPassword)},
            {L"PasswordTemplate", Variant(kNoPassword)},
            {L"Visible", Variant(false)},
            {L"NoEncodingDialog", Variant(true)}};
}

// Documents, then OpenNoRepairDialog: the same as Open, but a damaged document fails or
// opens as far as it can instead of offering its repair in a dialog, which no alert setting
// suppresses. Word before 2007 has only Open.
inline Dispatch open(const Dispatch& application, const std::wstring& path)
{
    const Dispatch documents = application.object(L"Documents");
    const wchar_t* const member =
        documents.has(L"OpenNoRepairDialog") ? L"OpenNoRepairDialog" : L"Open";
    return documents.objectNamed(member, openArguments(path));
}

// SaveAs with its arguments under their names, in the order given.
inline void saveAs(const Dispatch& document, const std::vector<NamedValue>& arguments)
{
    document.callNamed(L"SaveAs", arguments);
}

// Quit without saving: a document Word changed while opening it (fields, a table of
// contents) would otherwise ask whether to save, in a window nobody sees.
inline void quit(const Dispatch& application)
{
    application.callNamed(L"Quit", {{L"SaveChanges", Variant(std::int32_t(0))}});
}

} // namespace docuflume::com::word
