#pragma once

// The commands of termset-cli: thin layers over the code Termset itself runs
// (configuration files, the serial transfer through the communication
// control, the remote requests, the password checksum, the transfer log).
// Each returns the program's exit status (CliArguments.h) and has reported
// every failure on standard error through the console prompter.

#include "CliArguments.h"

namespace termsetcli {

class ConsolePrompter;

int runCommand(const Arguments& args, ConsolePrompter& prompter);

} // namespace termsetcli
