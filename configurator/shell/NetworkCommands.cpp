#include "shell/NetworkCommands.h"

#include "shell/CNetworkDlg.h"
#include "core/Profile.h"
#include "platform/ui/Prompt.h"
#include "shell/SheetServices.h"

namespace remote {

void runNetworkCommand(NetworkMode mode, ISheetServices& sheet, CRK40TKPropPage& page, const NetworkOptions& options)
{
    CNetworkDlg dialog(mode, sheet, page, sheet.sheetWindow());
    dialog.setDiscoverySources(options.discovery);
    const Profile profile;
    dialog.setLimits(options.limits.value_or(profile.remoteLimits()));
    dialog.actions().setRetryPause(options.retryPause);
    ui::prompter().exec(dialog);
}

} // namespace remote
