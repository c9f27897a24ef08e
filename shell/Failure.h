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

    Failure(int number, const QString& description)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description)
    {}

    int number() const { return m_number; }
    const QString& description() const { return m_description; }

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
};

} // namespace docuflume
