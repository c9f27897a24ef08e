#pragma once

#include "shell/Failure.h"

#include <QString>

#include <exception>
#include <functional>
#include <type_traits>

class QWidget;

namespace docuflume {

class Prompts;

// The trap of a reporting procedure. The procedure runs its numbered statements through
// it; a statement that fails is reported in the "Application Error" box with the number of
// the last numbered statement started, and the procedure carries on with its next one:
//
//     ErrorTrap line = trap(); // in a handler of Form1, which the trap is named after
//     if (line.when(100, [&] { return Converting; }))
//         return;
//     line(102, [&] { Converting = true; });
//
// A failing branch condition counts as met, so the branch is entered; a failing statement
// inside a loop lets the loop go on with its next pass, just as any next statement.
//
// The numbers are the line numbers the procedures have always carried, not positions in
// our files. Users read them in the box and quote them to support, the support team's notes
// go by them, and the tests check them, so they are never renumbered or tidied: a
// statement keeps its number when code moves around it, two statements may share one, and
// a new statement takes a number between its neighbours' (or its neighbour's own).
class ErrorTrap
{
public:
    // What a procedure's own handler makes of a failure before the box would be shown.
    enum class Outcome {
        Report, // show the error report box, then go on
        Resume, // go on without a box
        Leave,  // leave the procedure: every later statement is passed over
    };
    using Handler = std::function<Outcome(const Failure& failure, int line)>;

    ErrorTrap(Prompts& prompts, QWidget* owner, QString location);

    // Numbered statement. Returns true when it ran without failing.
    template <typename Statement> bool operator()(int line, Statement&& statement)
    {
        if (!start(line))
            return false;
        try {
            std::forward<Statement>(statement)();
            return true;
        } catch (...) {
            handle(std::current_exception());
            return false;
        }
    }

    // Numbered branch condition: its value, or true when evaluating it failed.
    template <typename Condition> bool when(int line, Condition&& condition)
    {
        if (!start(line))
            return false;
        try {
            return static_cast<bool>(std::forward<Condition>(condition)());
        } catch (...) {
            handle(std::current_exception());
            return !m_left;
        }
    }

    // Numbered expression: its value, or `fallback` when evaluating it failed.
    template <typename Expression, typename T>
    T value(int line, Expression&& expression, T fallback)
    {
        if (!start(line))
            return fallback;
        try {
            return std::forward<Expression>(expression)();
        } catch (...) {
            handle(std::current_exception());
            return fallback;
        }
    }

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    bool left() const { return m_left; }
    int line() const { return m_line; }

private:
    // The failure behind an exception caught with catch (...).
    static Failure failureOf(std::exception_ptr exception);
    bool start(int line);
    void handle(std::exception_ptr exception);

    Prompts& m_prompts;
    QWidget* m_owner;
    QString m_location;
    Handler m_handler;
    int m_line = 0;
    bool m_left = false;
};

} // namespace docuflume
