#include "NetworkCommands.h"

#include "CNetworkDlg.h"
#include "CRK40CnfPS.h"
#include "CommandIds.h"
#include "Profile.h"
#include "Prompt.h"
#include "SheetServices.h"

namespace remote {

int networkModeOf(int commandId)
{
    switch (commandId) {
    case cmd::kRemoteRead: return static_cast<int>(NetworkMode::Read);
    case cmd::kRemoteWrite: return static_cast<int>(NetworkMode::Write);
    case cmd::kRemoteStatus: return static_cast<int>(NetworkMode::Status);
    default: return -1;
    }
}

void runNetworkCommand(int mode, ISheetServices& sheet, CRK40TKPropPage& page, const NetworkOptions& options)
{
    if (mode < static_cast<int>(NetworkMode::Read) || mode > static_cast<int>(NetworkMode::Status))
        return;
    CNetworkDlg dialog(static_cast<NetworkMode>(mode), sheet, page, sheet.sheetWindow());
    dialog.setDiscoverySources(options.discovery);
    const Profile profile;
    dialog.setLimits(options.limits.value_or(
        limitsInSeconds(profile.connectTimeout(), profile.sendTimeout(), profile.replyTimeout())));
    dialog.actions().setRetryPause(options.retryPause);
    ui::prompter().exec(dialog);
}

std::function<void(ISheetServices& sheet, int mode)> networkDialogRunner(NetworkOptions options)
{
    return [options = std::move(options)](ISheetServices& sheet, int mode) {
        auto* mainSheet = dynamic_cast<CRK40CnfPS*>(&sheet);
        if (mainSheet && mainSheet->reader1())
            runNetworkCommand(mode, sheet, *mainSheet->reader1(), options);
    };
}

} // namespace remote
