#pragma once

// termset-cli keys and clock: the identification table and the clock of
// terminals on local serial ports, through the terminal operations library.

#include "CliArguments.h"
#include "terminalops/KeyTable.h"

namespace termsetcli {

class ConsolePrompter;

// A keys or clock command, prepared once for all its targets.
struct TerminalJob {
    Arguments args;
    terminalops::KeyList wanted;   // diff, sync: the key file's keys
};

// Reads what the command needs before anything is asked or sent (the key
// file of diff and sync). Returns the exit status; kExitOk to go on.
int prepareTerminalJob(const Arguments& args, TerminalJob& job, ConsolePrompter& prompter);

// keys clear on a terminal asks first, unless --yes; without a terminal to
// ask on it is refused. Returns the exit status; kExitOk to go on.
int confirmTerminalJob(const TerminalJob& job, ConsolePrompter& prompter);

// Runs the command on one target; returns its exit status.
int runTerminalJob(const TerminalJob& job, const Target& target, ConsolePrompter& prompter);

} // namespace termsetcli
