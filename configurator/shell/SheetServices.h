#pragma once

// What the main sheet offers to the commands that transfer the register
// image (serial transfer, the network dialog, Apply To Last): the unlocked
// flag, the last-terminal record, the strip's "Last read:" value, the
// enabling of "Apply To Last", the transfer log and the refresh of the
// showing page.

#include "core/LastTerminal.h"

#include <QString>

class QWidget;
namespace image {
class IRegisterImage;
}

class ISheetServices {
public:
    virtual ~ISheetServices() = default;

    // True once the password was entered or set; never cleared in a run.
    virtual bool isUnlocked() const = 0;
    // The program's last-terminal record (read and written by transfers).
    virtual LastTerminal& lastTerminal() = 0;
    // The "Last read:" value (control 112).
    virtual void setLastReadText(const QString& text) = 0;
    virtual QString lastReadText() const = 0;
    // The hidden remote-terminal value (control 109).
    virtual void setRemoteTerminalText(const QString& text) = 0;
    // Enables or disables both the "Apply To Last" button and menu entry.
    virtual void setApplyToLastEnabled(bool enabled) = 0;
    virtual bool isApplyToLastEnabled() const = 0;
    // Appends one line to the transfer log; a failure is reported to the
    // user but changes nothing else.
    virtual void AppendTransferLog(int serialPort, const QString& address, int tcpPort) = 0;
    // The showing page reloads its fields from the image.
    virtual void RefreshActivePage() = 0;
    // The register image (the control's EepromLoc).
    virtual image::IRegisterImage& registerImage() = 0;
    // The window that owns the messages and dialogs of a transfer.
    virtual QWidget* sheetWindow() = 0;
};
