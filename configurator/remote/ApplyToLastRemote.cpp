#include "ApplyToLastRemote.h"

#include "Prompt.h"
#include "RemoteStrings.h"
#include "RemoteTrace.h"
#include "Resources.h"
#include "SheetServices.h"

namespace remote {

int applyToLastRemote(ISheetServices& sheet, const Limits& limits)
{
    QWidget* const owner = sheet.sheetWindow();
    // A copy: nothing the write shows may change what is logged.
    const LastTerminal record = sheet.lastTerminal();
    if (!record.valid) {
        ui::prompter().message(owner, resources::loadString(strings::kNoTerminal));
        return -1;
    }
    if (!record.remote) {
        qCWarning(lcRemote) << "Apply To Last: the last terminal is not remote";
        return -1;
    }

    const int result =
        WriteRemoteConfig(record.address, record.tcpPort, record.serialPort, sheet.registerImage(), limits);
    if (result == kNotSent)
        return result;   // nothing was sent; the write said why
    if (result != 0) {
        ui::prompter().message(owner, fillMessage(strings::kWriteError, {result}));
        return result;
    }
    sheet.AppendTransferLog(record.serialPort, record.address, record.tcpPort);
    ui::prompter().message(owner, resources::loadString(strings::kWriteDone), ui::Look::Information);
    return 0;
}

} // namespace remote
