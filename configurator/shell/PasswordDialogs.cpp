#include "shell/PasswordDialogs.h"
#include "core/StringIds.h"

#include "pages/DialogUnits.h"
#include "core/PasswordChecksum.h"
#include "platform/ui/Prompt.h"
#include "platform/resources/Resources.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {

QLineEdit* makePasswordEdit(QWidget* parent, int id, const QRect& r)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::number(id));
    edit->setEchoMode(QLineEdit::Password);
    edit->setGeometry(r);
    return edit;
}

void makeLabel(QWidget* parent, const QString& text, const QRect& r)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(r);
    // The desktop's font may be wider than the dialog font: never clip.
    label->resize(std::max(r.width(), label->sizeHint().width()), r.height());
}

void makeButtons(QDialog* dialog, const DialogUnits& du, int dialogId, int top)
{
    auto* ok = new QPushButton(resources::dialogText(dialogId, 1), dialog);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(du.rect(75, top, 50, 14));
    auto* cancel = new QPushButton(resources::dialogText(dialogId, 2), dialog);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setGeometry(du.rect(129, top, 50, 14));
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

} // namespace

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(resources::dialogText(kDialogId, 0));
    const DialogUnits du(font());
    setFixedSize(du.size(186, 65));
    makeLabel(this, resources::dialogText(kDialogId, 65535), du.rect(6, 9, 52, 8));
    m_edit = makePasswordEdit(this, kPasswordEdit, du.rect(6, 21, 174, 14));
    makeButtons(this, du, kDialogId, 45);
    m_edit->setFocus();
}

QString CPasswordDlg::password() const { return m_edit->text(); }
void CPasswordDlg::setPassword(const QString& text) { m_edit->setText(text); }

CNewPasswordDlg::CNewPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(resources::dialogText(kDialogId, 0));
    const DialogUnits du(font());
    setFixedSize(du.size(186, 103));
    makeLabel(this, resources::dialogText(kDialogId, 65535), du.rect(6, 9, 50, 8));
    m_new = makePasswordEdit(this, kNewEdit, du.rect(6, 21, 171, 14));
    makeLabel(this, resources::dialogText(kDialogId, 65534), du.rect(6, 42, 24, 8));
    m_confirm = makePasswordEdit(this, kConfirmEdit, du.rect(6, 54, 171, 14));
    makeButtons(this, du, kDialogId, 84);
    m_new->setFocus();
}

QString CNewPasswordDlg::newPassword() const { return m_new->text(); }
QString CNewPasswordDlg::confirmation() const { return m_confirm->text(); }

void CNewPasswordDlg::setTexts(const QString& newPassword, const QString& confirmation)
{
    m_new->setText(newPassword);
    m_confirm->setText(confirmation);
}

void CNewPasswordDlg::accept()
{
    if (newPassword().isEmpty()) {
        ui::prompter().message(this, resources::loadString(strid::kPasswordEmpty));
        return;
    }
    if (confirmation() != newPassword()) {
        ui::prompter().message(this, resources::loadString(strid::kPasswordsDiffer));
        return;
    }
    if (password::checksumOf(newPassword()) == 0) {
        ui::prompter().message(this, resources::loadString(strid::kPasswordRefused));
        return;
    }
    QDialog::accept();
}

bool CNewPasswordDlg::isAcceptable(const QString& newPassword, const QString& confirmation)
{
    return !newPassword.isEmpty() && confirmation == newPassword && password::checksumOf(newPassword) != 0;
}
