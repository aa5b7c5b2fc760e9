#pragma once

// The command line of termset-cli, taken apart without touching anything:
// no file, port, profile or terminal is looked at here.
//
//   termset-cli read   TARGET [-o FILE.act]
//   termset-cli write  FILE.act TARGET [--password-file FILE [--strict]]
//   termset-cli status TARGET
//   termset-cli ports  [--remote HOST[:PORT]]
//   termset-cli show   FILE.act
//   termset-cli diff   A.act B.act
//   termset-cli clock  PORTS [--set]
//   termset-cli keys   list|add ID ACCESS|remove ID|clear|diff KEYS.csv|sync KEYS.csv PORTS
// with TARGET either --port COMn|DEVICE [--baud 2400|4800|9600] or
// --remote HOST[:PORT] --serial N [--timeout SECONDS], and PORTS the serial
// form alone. --port (or --serial) may be given several times: the command
// then runs on every target at once. Everywhere: --language NAME, --log FILE,
// --help, --version. Options may stand before or after the file names, as
// "--name value" or "--name=value"; "--" ends the options.

#include <QString>
#include <QStringList>

#include <optional>

namespace termsetcli {

// Exit statuses of the program.
enum ExitStatus : int {
    kExitOk = 0,
    kExitDiffers = 1,       // diff: the configurations differ
    kExitUsage = 2,         // the command line is wrong
    kExitTransfer = 3,      // the terminal or the gateway failed
    kExitFile = 4,          // a file cannot be read or written, or holds invalid data
    kExitPassword = 5,      // no password set, none given, or a wrong one
    kExitControl = 6,       // the communication control cannot be created
    kExitInterrupted = 130, // a transfer was stopped by an interrupt (Ctrl-C)
};

enum class Command { Read, Write, Status, Ports, Show, Diff, Clock, Keys, Help, Version };

enum class KeysAction { List, Add, Remove, Clear, Diff, Sync };
enum class KeysFormat { Table, Csv, Json };

// Where a transfer goes.
struct Target {
    bool remote = false;
    // Local serial port.
    int portIndex = 0;        // 0..9 for COM1..COM10
    QString devicePath;       // --port given as a device path ("/dev/ttyUSB0", a by-id link)
    int baud = 9600;          // 2400, 4800 or 9600
    // Remote gateway.
    QString host;             // dotted IPv4 address
    quint16 tcpPort = 0;      // 0: not given (the profile's "IPPort" is used)
    int serialPort = -1;      // the gateway's serial port, 0..255; -1: not given
};

struct Arguments {
    Command command = Command::Help;
    QStringList files;        // write: 1, show: 1, diff: 2
    QString output;           // read: the file to write; empty or "-": standard output
    Target target;            // the first (or only) target
    QList<Target> targets;    // every target, in the order given
    QString passwordFile;     // write: take the password from this file's first line
    bool strict = false;      // write: refuse a password file that other users may read
    QString language;         // the language to show texts in; empty: the profile's
    QString logFile;          // the transfer log to append to; empty: the program folder's
    int timeoutSeconds = -1;  // remote: the limit of each step; -1: the profile's
    // keys
    KeysAction keysAction = KeysAction::List;
    KeysFormat keysFormat = KeysFormat::Table;
    QString keyId;            // add, remove: 14 upper-case hexadecimal digits
    int keyAccess = 0;        // add: 0..255
    bool yes = false;         // clear: no confirmation asked
    bool dryRun = false;      // sync: stop after showing the difference
    // clock
    bool setClock = false;    // --set: the terminal's clock to this machine's
};

// The name of a target in messages and in a read's {port} pattern: the COM
// name ("COM3"), or the device path as given; in patterns the device's base
// name ("ttyUSB0").
QString targetName(const Target& target);
QString targetFileName(const Target& target);

// Whether the command needs the password (write, keys add/remove/clear/sync).
bool needsPassword(const Arguments& args);

inline constexpr int kMaxTimeoutSeconds = 86400;

struct ParseResult {
    std::optional<Arguments> arguments;  // set when the command line is usable
    QString error;                       // otherwise: what is wrong, in one line
};

// Parses the arguments after the program name.
ParseResult parseArguments(const QStringList& args);

// "COM1".."COM10" (any case) or "1".."10": the port index 0..9.
std::optional<int> parsePortName(const QString& text);
// "2400", "4800" or "9600".
std::optional<int> parseBaud(const QString& text);
// An IPv4 address as the network dialog takes it (remote::parseIPv4), optionally followed
// by ":PORT" with PORT 1024..65535 (the ports the network dialog accepts).
bool parseRemote(const QString& text, QString* host, quint16* tcpPort, QString* error);

// The text of --help.
QString helpText();

} // namespace termsetcli
