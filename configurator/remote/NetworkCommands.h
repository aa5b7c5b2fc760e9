#pragma once

// The main sheet's Remote commands: Read configuration (32791), Write
// configuration (32792) and Status (32793) each run the network dialog in
// its mode over the sheet.

#include "ComputerDiscovery.h"
#include "RemoteTerminal.h"

#include <chrono>
#include <functional>
#include <optional>

class CRK40TKPropPage;
class ISheetServices;

namespace remote {

// What the dialog uses besides the sheet and the page; the defaults are the
// program's.
struct NetworkOptions {
    DiscoverySources discovery;
    // The time limits of the requests; without them, the profile's.
    std::optional<Limits> limits;
    std::chrono::milliseconds retryPause{100};
};

// The dialog's mode for a Remote command: 0 read (32791), 1 write (32792),
// 2 status (32793); -1 for any other command.
int networkModeOf(int commandId);

// Runs the network dialog modally (through the prompter) over the sheet's
// window, in mode 0 (read), 1 (write) or 2 (status); its result is not used.
// Any other mode does nothing.
void runNetworkCommand(int mode, ISheetServices& sheet, CRK40TKPropPage& page, const NetworkOptions& options = {});

// The same as a runner for the main sheet (CRK40CnfPS::NetworkDialogRunner
// and CConfiguratorApp::setNetworkDialogRunner): it finds the Reader 1 page
// through the sheet. Without one it does nothing.
std::function<void(ISheetServices& sheet, int mode)> networkDialogRunner(NetworkOptions options = {});

} // namespace remote
