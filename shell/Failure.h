#pragma once

#include <QString>

#include <stdexcept>

namespace docuflume {

// An unexpected failure of an operation, as the trapping handlers report it. The number
// keeps the classic runtime numbering so that handlers can single out the few failures
// they treat in a special way (permission denied, path not found, ...).
class Failure : public std::runtime_error
{
public:
    enum Number : int {
        Unspecified = 0,
        InvalidArgument = 5,
        OutOfMemory = 7,
        TypeMismatch = 13,
        FileNotFound = 53,
        PermissionDenied = 70,
        PathNotFound = 76,
        // The word processor is there but lacks a part it needs; the description says
        // what to install.
        IncompleteInstallation = 429,
        AutomationError = 440,
        BufferTooSmall = 20476,
    };

    // What went wrong with a document, in the few classes a report sorts its failures into;
    // the engine says which where it knows.
    enum class Cause {
        Other,
        NeedsPassword,   // protected by a password
        Damaged,         // damaged, or a Word name on something else
        NotWordDocument, // not a document the word processor converts
        TimeLimit,       // the word processor did not finish in time and was stopped
        LostText,        // the page lost most of the document's text
        OfficeStopped,   // the word processor stopped (crashed) while converting
    };

    Failure(int number, const QString& description, Cause cause = Cause::Other)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description), m_cause(cause)
    {}

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    Cause cause() const { return m_cause; }

    // The runtime's own texts for the failures the program raises itself.
    static Failure invalidArgument()
    {
        return {InvalidArgument, QStringLiteral("Invalid procedure call or argument")};
    }
    static Failure typeMismatch() { return {TypeMismatch, QStringLiteral("Type mismatch")}; }
    static Failure fileNotFound() { return {FileNotFound, QStringLiteral("File not found")}; }
    static Failure permissionDenied()
    {
        return {PermissionDenied, QStringLiteral("Permission denied")};
    }
    static Failure pathNotFound() { return {PathNotFound, QStringLiteral("Path not found")}; }

private:
    int m_number;
    QString m_description;
    Cause m_cause;
};

} // namespace docuflume
