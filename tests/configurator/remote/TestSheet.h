#pragma once

// The main sheet as the network dialog and Apply To Last see it: the
// services interface over plain members, so tests can set the unlocked flag
// and read back the record, labels, log lines and refreshes.

#include "shell/SheetServices.h"

#include <QWidget>

class TestSheet : public ISheetServices {
public:
    explicit TestSheet(image::IRegisterImage& image) : m_image(image) {}

    bool isUnlocked() const override { return unlocked; }
    LastTerminal& lastTerminal() override { return record; }
    void setLastReadText(const QString& text) override { lastRead = text; }
    QString lastReadText() const override { return lastRead; }
    void setRemoteTerminalText(const QString& text) override { remoteText = text; }
    void setApplyToLastEnabled(bool enabled) override { applyEnabled = enabled; }
    bool isApplyToLastEnabled() const override { return applyEnabled; }
    void AppendTransferLog(int, const QString&, int) override { ++logLines; }
    void RefreshActivePage() override { ++refreshes; }
    image::IRegisterImage& registerImage() override { return m_image; }
    QWidget* sheetWindow() override { return &window; }

    bool unlocked = true;
    LastTerminal record;
    QString lastRead = QStringLiteral("Not selected");
    QString remoteText = QStringLiteral("Not selected.");
    bool applyEnabled = false;
    int logLines = 0;
    int refreshes = 0;
    QWidget window;

private:
    image::IRegisterImage& m_image;
};
