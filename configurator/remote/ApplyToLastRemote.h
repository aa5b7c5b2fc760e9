#pragma once

#include "RemoteTerminal.h"

class ISheetServices;

namespace remote {

// "Apply To Last" for a terminal behind a remote gateway: writes the
// register image once (no retry) to the gateway, TCP port and gateway serial
// port of the sheet's last-terminal record.
//
// On success appends the transfer log line (serial port, address, TCP port
// of the record) and shows "Configuration written successfully." with the
// information icon. On failure shows "Writing error: %d" with the result
// (-1 when the socket layer failed and has already said why, otherwise the
// gateway's code); the record and the command's enabling stay as they are,
// so the write can be tried again at once.
//
// Returns the write's result: 0, the gateway's code, or -1. A record that is
// not valid shows "No terminal selected." and returns -1 without sending; a
// record of a local serial port is not this function's business and returns
// -1 without a message.
int applyToLastRemote(ISheetServices& sheet, const Limits& limits = {});

} // namespace remote
