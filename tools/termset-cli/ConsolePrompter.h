#pragma once

// The console program's messages: nothing ever opens a window.
//
// A message with the information look is a result that the program was asked
// for (the status of a remote terminal is shown that way), so it goes to
// standard output, with its control characters shown as escapes. Every other message is a complaint and goes
// to standard error, after the program's name. Questions are answered No (a
// script cannot be asked).

#include "platform/ui/Prompt.h"

#include <QString>

#include <functional>

namespace termsetcli {

class ConsolePrompter final {
public:
    using Sink = std::function<void(const QString& text)>;

    // Writes to the process's standard output and standard error.
    ConsolePrompter();
    // Writes to the given sinks (tests).
    ConsolePrompter(Sink out, Sink err);

    void message(QWidget* parent, const QString& text, ui::Look look, const QString& title);
    bool askYesNo(QWidget* parent, const QString& text, const QString& title);

    // A complaint on standard error: "termset-cli: text".
    void complain(const QString& text) const;
    // A result the program was asked for, on standard output as it is.
    void output(const QString& text) const { m_out(text); }

    // A prompter for one of several targets: every line it writes starts
    // with "TARGET: ", and each text goes out in one piece.
    static ConsolePrompter forTarget(const QString& target);

private:
    Sink m_out;
    Sink m_err;
};

// The line written for a complaint: the program's name, a colon, the text
// (control characters as escapes) and a line end (a text that ends in a line end gets no second one).
QString complaintLine(const QString& text);

} // namespace termsetcli
