#include "platform/ui/Prompt.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace ui {

static QString titleOr(const QString& title)
{
    return title.isEmpty() ? QApplication::applicationDisplayName() : title;
}

// Messages carry file names, terminal and gateway texts: none of it may be
// taken for markup (a reply holding "<img src=...>" or a link would render).
static void showAsWritten(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
}

void Prompter::message(QWidget* parent, const QString& text, Look look, const QString& title)
{
    const auto icon = look == Look::Information ? QMessageBox::Information
                    : look == Look::Stop        ? QMessageBox::Critical
                                                : QMessageBox::NoIcon;
    QMessageBox box(icon, titleOr(title), text, QMessageBox::Ok, parent);
    showAsWritten(box);
    box.exec();
}

bool Prompter::askYesNo(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Question, titleOr(title), text, QMessageBox::Yes | QMessageBox::No, parent);
    showAsWritten(box);
    return box.exec() == QMessageBox::Yes;
}

int Prompter::exec(QDialog& dialog)
{
    return dialog.exec();
}

static Prompter g_default;
static Prompter* g_current = &g_default;

namespace {
thread_local Prompter* t_current = nullptr;
} // namespace

Prompter& prompter() { return t_current ? *t_current : *g_current; }

ThreadPrompter::ThreadPrompter(Prompter& p) : m_previous(t_current) { t_current = &p; }
ThreadPrompter::~ThreadPrompter() { t_current = m_previous; }
void setPrompter(Prompter* p) { g_current = p ? p : &g_default; }

} // namespace ui
