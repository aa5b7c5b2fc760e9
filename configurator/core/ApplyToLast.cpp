#include "core/ApplyToLast.h"

namespace lastterminal {

ApplyOutcome applyToLast(LastTerminal& record, const translog::TransferLog* log, SerialPath* serial,
                         remotexfer::RemoteTransfer& remote, const image::IRegisterImage& image)
{
    ApplyOutcome out;
    if (!record.valid)
        return out;
    if (!record.remote) {
        out.kind = ApplyOutcome::Serial;
        if (!serial)
            return out;   // no control: the caller has said so
        serialxfer::SerialTransfer transfer(serial->comm, record, log);
        out.serial = transfer.write(std::nullopt, serial->observer, serial->portOpened);
        return out;
    }
    out.kind = ApplyOutcome::Remote;
    // A copy: nothing the write does may change what is logged.
    const LastTerminal target = record;
    out.remote = remote.write({target.address, target.tcpPort, target.serialPort}, image);
    if (out.remote.ok() && log)
        out.logged = log->append(target.serialPort, target.address, target.tcpPort, &out.logError);
    return out;
}

} // namespace lastterminal
