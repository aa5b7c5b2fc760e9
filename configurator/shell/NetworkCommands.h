#pragma once

// The main sheet's Remote commands: Read configuration (32791), Write
// configuration (32792) and Status (32793) each run the network dialog in
// its mode over the sheet.

#include "remote/ComputerDiscovery.h"
#include "remote/RemoteTerminal.h"
#include "shell/NetworkActions.h"

#include <chrono>
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

// Runs the network dialog modally (through the prompter) over the sheet's
// window in the given mode; its result is not used.
void runNetworkCommand(NetworkMode mode, ISheetServices& sheet, CRK40TKPropPage& page, const NetworkOptions& options = {});

} // namespace remote
