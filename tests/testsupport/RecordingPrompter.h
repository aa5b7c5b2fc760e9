#pragma once

// A prompter for tests: records every message (text and look) and
// question, answers questions from a queue (default: the given answer) and
// runs modal dialogs through a handler instead of blocking.

#include "platform/ui/Prompt.h"

#include <QDialog>
#include <QStringList>
#include <deque>
#include <functional>

namespace testsupport {

class RecordingPrompter : public ui::Prompter {
public:
    struct Message {
        QString text;
        ui::Look look;
    };

    RecordingPrompter() { ui::setPrompter(this); }
    ~RecordingPrompter() override { ui::setPrompter(nullptr); }

    void message(QWidget*, const QString& text, ui::Look look, const QString&) override
    {
        messages.push_back({text, look});
    }
    bool askYesNo(QWidget*, const QString& text, const QString&) override
    {
        questions << text;
        if (answers.empty())
            return defaultAnswer;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    // The handler fills in the dialog and returns Accepted or Rejected;
    // without one every dialog is rejected.
    int exec(QDialog& dialog) override
    {
        dialogs << dialog.objectName();
        if (dialogHandlers.empty())
            return QDialog::Rejected;
        auto handler = std::move(dialogHandlers.front());
        dialogHandlers.pop_front();
        return handler(dialog);
    }

    QStringList messageTexts() const
    {
        QStringList out;
        for (const auto& m : messages)
            out << m.text;
        return out;
    }

    // Messages as "look:text" ("info:", "stop:" or "plain:"), for compact
    // comparisons of both.
    QStringList lookTexts() const
    {
        QStringList out;
        for (const auto& m : messages) {
            const char* look = m.look == ui::Look::Information ? "info" : m.look == ui::Look::Stop ? "stop" : "plain";
            out << QString::fromLatin1(look) + QLatin1Char(':') + m.text;
        }
        return out;
    }

    std::vector<Message> messages;
    QStringList questions;
    QStringList dialogs;
    std::deque<bool> answers;
    bool defaultAnswer = true;
    std::deque<std::function<int(QDialog&)>> dialogHandlers;
};

} // namespace testsupport
