#pragma once

// The two password dialogs: asking for the password (dialog 150) and
// setting a new one (dialog 151). Both mask what is typed.

#include <QDialog>

class QLineEdit;

class CPasswordDlg : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPasswordDlg)
public:
    static constexpr int kDialogId = 150;
    static constexpr int kPasswordEdit = 1242;

    explicit CPasswordDlg(QWidget* parent = nullptr);

    // The text of the edit. The edit keeps it when the same dialog object is
    // shown again (after a wrong password).
    QString password() const;
    void setPassword(const QString& text);
    QLineEdit* passwordEdit() const { return m_edit; }

private:
    QLineEdit* m_edit = nullptr;
};

class CNewPasswordDlg : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CNewPasswordDlg)
public:
    static constexpr int kDialogId = 151;
    static constexpr int kNewEdit = 1240;
    static constexpr int kConfirmEdit = 1241;

    explicit CNewPasswordDlg(QWidget* parent = nullptr);

    QString newPassword() const;
    QString confirmation() const;
    void setTexts(const QString& newPassword, const QString& confirmation);

    // OK: ends the dialog only when the new password is not empty, the
    // confirmation equals it and its checksum is not 0 (a stored 0 means
    // "no password"); otherwise says what is wrong and stays open.
    void accept() override;

    static bool isAcceptable(const QString& newPassword, const QString& confirmation);

private:
    QLineEdit* m_new = nullptr;
    QLineEdit* m_confirm = nullptr;
};
