#pragma once

// The About box (dialog 100): icon, "Version:" and the version, an empty
// second field, the maker's notice and OK.

#include <QDialog>

class CAboutBox : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CAboutBox)
public:
    static constexpr int kDialogId = 100;
    static constexpr const char* kVersionString = "1, 4, 0, 1180";

    explicit CAboutBox(QWidget* parent = nullptr);

    // The version as shown: blanks removed, commas turned into points and
    // the text cut before its last point ("1, 4, 0, 1180" gives "1.4.0").
    // A text without a point is shown whole.
    static QString versionText(const QString& versionString);
};
