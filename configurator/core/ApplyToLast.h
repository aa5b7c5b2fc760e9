#pragma once

// "Apply To Last": the register image written to the terminal of the
// last-terminal record, without asking for a port or a gateway. One
// function for both kinds of record; the caller presents the outcome.

#include "core/LastTerminal.h"
#include "core/RemoteTransfer.h"
#include "core/SerialTransfer.h"

namespace lastterminal {

struct ApplyOutcome {
    enum Kind { NoTerminal, Serial, Remote };
    Kind kind = NoTerminal;
    serialxfer::Outcome serial;   // Serial
    remotexfer::RemoteOutcome remote;   // Remote: one attempt, no retry
    bool logged = false;          // Remote, written: the transfer log line was written
    QString logError;             // Remote, written: why the log line could not be written
};

// What a serial record is written through: the control, the port the
// caller has opened for the record (SerialTransfer::openRecordPort) and
// the driver of the word loop.
struct SerialPath {
    CRK40Comm& comm;
    bool portOpened;
    serialxfer::ITransferObserver& observer;
};

// Writes the image to the record's terminal. Serial: the words of the
// control's image over the opened port; a word that fails every attempt
// clears the record's validity. Remote: the image's words once to the
// record's gateway; the record stays as it is. A successful write gains a
// transfer log line (log may be null). A record that is not valid sends
// nothing (NoTerminal).
ApplyOutcome applyToLast(LastTerminal& record, const translog::TransferLog* log, SerialPath* serial,
                         remotexfer::RemoteTransfer& remote, const image::IRegisterImage& image);

} // namespace lastterminal
