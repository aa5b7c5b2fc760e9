#pragma once

// What the commands of termset-cli share: the control, the port a target
// names, the files beside the transfer log.

#include "CliArguments.h"
#include "core/SerialTransfer.h"

#include <QByteArray>
#include <QString>

class CRK40Comm;
class QFile;

namespace termsetcli {

class ConsolePrompter;

// Creates the control through the registry, as the Reader 1 page does, with
// its on-line mode off and no register file. Reports a failure.
int createControl(CRK40Comm& comm, ConsolePrompter& prompter);

// The port a serial target opens.
serialxfer::PortChoice portChoice(const Target& target);
// The port as the user gave it: "COM3", or the device's path.
QString portName(const Target& target);
// "ERROR: COM2 (/dev/ttyUSB0) cannot be opened: reason" ("ERROR: PATH ..."
// for a device given by path).
QString portFailure(const Target& target, const QString& reason);

// The transfer log, and the key audit file beside it.
QString logPath(const Arguments& args);
QString keysLogPath(const Arguments& args);

// Reads the whole file into `data`, but never more than `limit` bytes:
// false when there is more, or on a read error.
bool readCapped(QFile& file, QByteArray& data, qint64 limit);

} // namespace termsetcli
