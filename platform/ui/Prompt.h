#pragma once

// Every message box, question and modal dialog of the configurator goes
// through the prompter, so that tests can answer and record them.

#include <QString>

class QDialog;
class QWidget;

namespace ui {

// The three looks of a message box.
enum class Look { Plain, Information, Stop };

class Prompter {
public:
    virtual ~Prompter() = default;
    // A message box with an OK button.
    virtual void message(QWidget* parent, const QString& text, Look look = Look::Plain,
                         const QString& title = {});
    // A question with Yes and No; true for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& text, const QString& title = {});
    // Runs a modal dialog; returns QDialog::Accepted or Rejected.
    virtual int exec(QDialog& dialog);
};

// The prompter in use. setPrompter(nullptr) restores the interactive one.
Prompter& prompter();
void setPrompter(Prompter* p);

// While it lives, prompter() on the thread that made it is `p` (a program
// serving several terminals at once, each on a thread of its own, says
// which terminal a message is about); other threads keep theirs.
class ThreadPrompter {
public:
    explicit ThreadPrompter(Prompter& p);
    ~ThreadPrompter();
    ThreadPrompter(const ThreadPrompter&) = delete;
    ThreadPrompter& operator=(const ThreadPrompter&) = delete;

private:
    Prompter* m_previous;
};

} // namespace ui
