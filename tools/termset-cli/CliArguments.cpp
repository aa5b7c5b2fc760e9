#include "CliArguments.h"

#include "remote/RemoteProtocol.h"
#include "terminalops/KeyTable.h"

#include <QFileInfo>

#include <map>

namespace termsetcli {

namespace {

bool allDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

std::optional<Command> commandOf(const QString& word)
{
    static const std::map<QString, Command> commands{
        {QStringLiteral("read"), Command::Read},   {QStringLiteral("write"), Command::Write},
        {QStringLiteral("status"), Command::Status}, {QStringLiteral("ports"), Command::Ports},
        {QStringLiteral("show"), Command::Show},   {QStringLiteral("diff"), Command::Diff},
        {QStringLiteral("clock"), Command::Clock}, {QStringLiteral("keys"), Command::Keys},
    };
    const auto it = commands.find(word);
    if (it == commands.end())
        return std::nullopt;
    return it->second;
}

// The options that take a value.
const QStringList& valueOptions()
{
    static const QStringList options{
        QStringLiteral("--port"),          QStringLiteral("--baud"),     QStringLiteral("--remote"),
        QStringLiteral("--serial"),        QStringLiteral("-o"),         QStringLiteral("--output"),
        QStringLiteral("--password-file"), QStringLiteral("--language"), QStringLiteral("--log"),
        QStringLiteral("--timeout"),       QStringLiteral("--format"),
    };
    return options;
}

QString commandName(Command c)
{
    switch (c) {
    case Command::Read: return QStringLiteral("read");
    case Command::Write: return QStringLiteral("write");
    case Command::Status: return QStringLiteral("status");
    case Command::Ports: return QStringLiteral("ports");
    case Command::Show: return QStringLiteral("show");
    case Command::Diff: return QStringLiteral("diff");
    case Command::Clock: return QStringLiteral("clock");
    case Command::Keys: return QStringLiteral("keys");
    case Command::Help: return QStringLiteral("--help");
    case Command::Version: return QStringLiteral("--version");
    }
    return {};
}

ParseResult failure(const QString& message) { return ParseResult{std::nullopt, message}; }

// keys ACTION [ARGUMENTS]: the action and its words into `out`; a key file
// goes to out.files. Returns what is wrong, or nothing.
QString parseKeysWords(const QStringList& words, Arguments& out)
{
    static const std::map<QString, std::pair<KeysAction, int>> actions{
        {QStringLiteral("list"), {KeysAction::List, 0}},   {QStringLiteral("add"), {KeysAction::Add, 2}},
        {QStringLiteral("remove"), {KeysAction::Remove, 1}}, {QStringLiteral("clear"), {KeysAction::Clear, 0}},
        {QStringLiteral("diff"), {KeysAction::Diff, 1}},   {QStringLiteral("sync"), {KeysAction::Sync, 1}},
    };
    if (words.isEmpty())
        return QStringLiteral("keys needs list, add, remove, clear, diff or sync");
    const auto action = actions.find(words.first());
    if (action == actions.end())
        return QStringLiteral("unknown keys command: %1 (list, add, remove, clear, diff, sync)").arg(words.first());
    out.keysAction = action->second.first;
    const QStringList rest = words.mid(1);
    if (rest.size() != action->second.second) {
        static const std::map<KeysAction, QString> usage{
            {KeysAction::List, QStringLiteral("keys list --port P")},
            {KeysAction::Add, QStringLiteral("keys add ID ACCESS --port P")},
            {KeysAction::Remove, QStringLiteral("keys remove ID --port P")},
            {KeysAction::Clear, QStringLiteral("keys clear --port P")},
            {KeysAction::Diff, QStringLiteral("keys diff KEYS.csv --port P")},
            {KeysAction::Sync, QStringLiteral("keys sync KEYS.csv --port P")},
        };
        return QStringLiteral("usage: termset-cli %1").arg(usage.at(out.keysAction));
    }
    out.files.clear();
    if (out.keysAction == KeysAction::Diff || out.keysAction == KeysAction::Sync)
        out.files = rest;
    if (out.keysAction == KeysAction::Add || out.keysAction == KeysAction::Remove) {
        out.keyId = terminalops::normalKeyId(rest.at(0));
        if (out.keyId.isEmpty())
            return QStringLiteral("a key id is 14 hexadecimal digits: %1").arg(rest.at(0));
    }
    if (out.keysAction == KeysAction::Add) {
        bool number = false;
        out.keyAccess = rest.at(1).toInt(&number, 10);
        if (!number || !allDigits(rest.at(1)) || out.keyAccess > terminalops::kMaxAccess)
            return QStringLiteral("the access is a number from 0 to 255: %1").arg(rest.at(1));
    }
    return {};
}

} // namespace

QString targetName(const Target& target)
{
    if (target.remote)
        return QStringLiteral("%1, COM%2").arg(target.host).arg(target.serialPort);
    if (!target.devicePath.isEmpty())
        return target.devicePath;
    return QStringLiteral("COM%1").arg(target.portIndex + 1);
}

QString targetFileName(const Target& target)
{
    if (target.remote)
        return QStringLiteral("%1-%2").arg(target.host).arg(target.serialPort);
    if (!target.devicePath.isEmpty())
        return QFileInfo(target.devicePath).fileName();
    return targetName(target);
}

bool needsPassword(const Arguments& args)
{
    if (args.command == Command::Write)
        return true;
    return args.command == Command::Keys && args.keysAction != KeysAction::List && args.keysAction != KeysAction::Diff;
}

std::optional<int> parsePortName(const QString& text)
{
    QString digits = text;
    if (digits.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        digits = digits.mid(3);
    if (!allDigits(digits) || digits.size() > 2)
        return std::nullopt;
    const int n = digits.toInt();
    if (n < 1 || n > 10)
        return std::nullopt;
    return n - 1;
}

std::optional<int> parseBaud(const QString& text)
{
    for (const int rate : {2400, 4800, 9600})
        if (text == QString::number(rate))
            return rate;
    return std::nullopt;
}

bool parseRemote(const QString& text, QString* host, quint16* tcpPort, QString* error)
{
    QString address = text;
    quint16 port = 0;
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        address = text.left(colon);
        const std::optional<quint16> p = remote::parseTcpPort(text.mid(colon + 1));
        if (!p) {
            *error = QStringLiteral("the gateway's TCP port must be a number from %1 to %2: %3")
                         .arg(remote::kMinTcpPort)
                         .arg(remote::kMaxTcpPort)
                         .arg(text.mid(colon + 1));
            return false;
        }
        port = *p;
    }
    // The requests go to an address, never to a looked-up name; the address
    // is read as Termset's network dialog reads it.
    if (!remote::parseIPv4(address)) {
        *error = QStringLiteral("the gateway must be given as a dotted IPv4 address such as 192.0.2.7: %1").arg(address);
        return false;
    }
    *host = address;
    *tcpPort = port;
    return true;
}

ParseResult parseArguments(const QStringList& args)
{
    Arguments out;
    std::optional<Command> command;
    QStringList positional;
    bool haveTimeout = false, havePort = false, haveBaud = false, haveRemote = false, haveSerial = false,
         haveOutput = false,
         havePassword = false;
    bool help = false, version = false, haveFormat = false;
    QList<int> serials;
    QString remoteHost;
    quint16 remoteTcpPort = 0;
    int baud = 9600;

    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            if (!command && !optionsEnded) {
                command = commandOf(arg);
                if (!command)
                    return failure(QStringLiteral("unknown command: %1").arg(arg));
            } else {
                positional << arg;
            }
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            help = true;
            continue;
        }
        if (arg == QLatin1String("--version")) {
            version = true;
            continue;
        }
        if (arg == QLatin1String("--strict")) {
            out.strict = true;
            continue;
        }
        if (arg == QLatin1String("--yes") || arg == QLatin1String("-y")) {
            out.yes = true;
            continue;
        }
        if (arg == QLatin1String("--dry-run")) {
            out.dryRun = true;
            continue;
        }
        if (arg == QLatin1String("--set")) {
            out.setClock = true;
            continue;
        }
        QString value;
        bool inlineValue = false;
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (arg.startsWith(QLatin1String("--")) && eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            inlineValue = true;
        }
        if (!valueOptions().contains(arg))
            return failure(QStringLiteral("unknown option: %1").arg(arg));
        if (!inlineValue) {
            if (i + 1 >= args.size())
                return failure(QStringLiteral("%1 needs a value").arg(arg));
            value = args[++i];
        }

        auto once = [&](bool& seen) {
            const bool first = !seen;
            seen = true;
            return first;
        };
        if (arg == QLatin1String("--port")) {
            havePort = true;
            Target t;
            if (value.startsWith(QLatin1Char('/'))) {
                t.devicePath = value;
            } else {
                const std::optional<int> index = parsePortName(value);
                if (!index)
                    return failure(QStringLiteral("--port takes COM1 to COM10 or a device path: %1").arg(value));
                t.portIndex = *index;
            }
            for (const Target& other : out.targets)
                if (targetName(other) == targetName(t))
                    return failure(QStringLiteral("--port %1 given twice").arg(targetName(t)));
            out.targets << t;
        } else if (arg == QLatin1String("--baud")) {
            if (!once(haveBaud))
                return failure(QStringLiteral("--baud given twice"));
            const std::optional<int> rate = parseBaud(value);
            if (!rate)
                return failure(QStringLiteral("--baud takes 2400, 4800 or 9600: %1").arg(value));
            baud = *rate;
        } else if (arg == QLatin1String("--remote")) {
            if (!once(haveRemote))
                return failure(QStringLiteral("--remote given twice"));
            QString error;
            if (!parseRemote(value, &remoteHost, &remoteTcpPort, &error))
                return failure(error);
        } else if (arg == QLatin1String("--serial")) {
            haveSerial = true;
            if (!allDigits(value) || value.size() > 3 || value.toInt() > 255)
                return failure(QStringLiteral("--serial takes the gateway's serial port number, 0 to 255: %1").arg(value));
            if (serials.contains(value.toInt()))
                return failure(QStringLiteral("--serial %1 given twice").arg(value.toInt()));
            serials << value.toInt();
        } else if (arg == QLatin1String("--format")) {
            static const std::map<QString, KeysFormat> formats{{QStringLiteral("table"), KeysFormat::Table},
                                                               {QStringLiteral("csv"), KeysFormat::Csv},
                                                               {QStringLiteral("json"), KeysFormat::Json}};
            const auto f = formats.find(value);
            if (f == formats.end())
                return failure(QStringLiteral("--format takes table, csv or json: %1").arg(value));
            out.keysFormat = f->second;
            haveFormat = true;
        } else if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (!once(haveOutput))
                return failure(QStringLiteral("-o given twice"));
            if (value.isEmpty())
                return failure(QStringLiteral("-o needs a file name"));
            out.output = value;
        } else if (arg == QLatin1String("--password-file")) {
            if (!once(havePassword))
                return failure(QStringLiteral("--password-file given twice"));
            if (value.isEmpty())
                return failure(QStringLiteral("--password-file needs a file name"));
            out.passwordFile = value;
        } else if (arg == QLatin1String("--language")) {
            if (value.isEmpty())
                return failure(QStringLiteral("--language needs a language name"));
            out.language = value;
        } else if (arg == QLatin1String("--timeout")) {
            if (!once(haveTimeout))
                return failure(QStringLiteral("--timeout given twice"));
            if (!allDigits(value) || value.size() > 5 || value.toInt() > kMaxTimeoutSeconds)
                return failure(QStringLiteral("--timeout takes whole seconds, 0 (no limit) to %1: %2")
                                   .arg(kMaxTimeoutSeconds)
                                   .arg(value));
            out.timeoutSeconds = value.toInt();
        } else if (arg == QLatin1String("--log")) {
            if (value.isEmpty())
                return failure(QStringLiteral("--log needs a file name"));
            out.logFile = value;
        }
    }

    if (help) {
        out.command = Command::Help;
        return ParseResult{out, {}};
    }
    if (version) {
        out.command = Command::Version;
        return ParseResult{out, {}};
    }
    if (!command)
        return failure(QStringLiteral("no command given"));
    out.command = *command;
    const QString name = commandName(out.command);

    if (out.command == Command::Keys) {
        if (const QString error = parseKeysWords(positional, out); !error.isEmpty())
            return failure(error);
        positional = out.files;
    }
    // How many file names each command takes.
    qsizetype wanted = 0;
    switch (out.command) {
    case Command::Write: wanted = 1; break;
    case Command::Show: wanted = 1; break;
    case Command::Diff: wanted = 2; break;
    case Command::Keys: wanted = positional.size(); break;
    default: break;
    }
    if (positional.size() != wanted) {
        if (wanted == 0)
            return failure(QStringLiteral("%1 takes no file name: %2").arg(name, positional.first()));
        return failure(QStringLiteral("%1 takes %2 file name%3").arg(name).arg(wanted).arg(wanted == 1 ? "" : "s"));
    }
    out.files = positional;

    if (haveRemote)
        for (const int serial : serials) {
            Target t;
            t.remote = true;
            t.host = remoteHost;
            t.tcpPort = remoteTcpPort;
            t.serialPort = serial;
            out.targets << t;
        }
    for (Target& t : out.targets)
        t.baud = baud;
    if (!out.targets.isEmpty()) {
        out.target = out.targets.first();
    } else {
        out.target.host = remoteHost;
        out.target.tcpPort = remoteTcpPort;
        out.target.baud = baud;
    }
    const bool serialOnly = out.command == Command::Clock || out.command == Command::Keys;
    if (serialOnly && haveRemote)
        return failure(QStringLiteral("%1 works on terminals on local serial ports (--port); a gateway carries "
                                      "only reads, writes, status and its port list").arg(name));
    const bool transfer = out.command == Command::Read || out.command == Command::Write
                          || out.command == Command::Status || serialOnly;
    if (transfer) {
        if (havePort && haveRemote)
            return failure(QStringLiteral("%1 takes either --port or --remote, not both").arg(name));
        if (!havePort && !haveRemote)
            return failure(QStringLiteral("%1 needs --port COMn|DEVICE or --remote HOST[:PORT] --serial N").arg(name));
        if (haveRemote && !haveSerial)
            return failure(QStringLiteral("--remote needs --serial N, the gateway's serial port of the terminal"));
        if (havePort && haveSerial)
            return failure(QStringLiteral("--serial belongs to --remote"));
        if (haveRemote && haveBaud)
            return failure(QStringLiteral("--baud belongs to --port"));
        out.target.remote = haveRemote;
    } else if (out.command == Command::Ports) {
        if (serials.size() > 1)
            return failure(QStringLiteral("ports takes only --remote"));
        // Without --remote: the local serial devices.
        if (havePort || haveBaud || haveSerial)
            return failure(QStringLiteral("ports takes only --remote"));
        out.target.remote = haveRemote;
    } else if (havePort || haveBaud || haveRemote || haveSerial) {
        return failure(QStringLiteral("%1 works on files and takes no port or gateway").arg(name));
    }
    if (haveOutput && out.command != Command::Read)
        return failure(QStringLiteral("-o belongs to read"));
    if (out.command == Command::Read && out.targets.size() > 1 && !out.output.contains(QLatin1String("{port}")))
        return failure(QStringLiteral("read from several terminals needs -o with {port} in the file name, "
                                      "e.g. -o 'door-{port}.act'"));
    if (haveFormat && !(out.command == Command::Keys && out.keysAction == KeysAction::List))
        return failure(QStringLiteral("--format belongs to keys list"));
    if (out.yes && !(out.command == Command::Keys && out.keysAction == KeysAction::Clear))
        return failure(QStringLiteral("--yes belongs to keys clear"));
    if (out.dryRun && !(out.command == Command::Keys && out.keysAction == KeysAction::Sync))
        return failure(QStringLiteral("--dry-run belongs to keys sync"));
    if (out.setClock && out.command != Command::Clock)
        return failure(QStringLiteral("--set belongs to clock"));
    if (haveTimeout && !out.target.remote)
        return failure(QStringLiteral("--timeout belongs to --remote"));
    if (havePassword && !needsPassword(out))
        return failure(QStringLiteral("--password-file belongs to write and to the keys commands that change keys"));
    if (out.strict && !havePassword)
        return failure(QStringLiteral("--strict belongs to --password-file"));
    return ParseResult{out, {}};
}

QString helpText()
{
    return QStringLiteral(
        "usage: termset-cli COMMAND [OPTIONS]\n"
        "Reads, writes and describes RK-40 terminal configurations (.act files)\n"
        "with the same transfers, texts and transfer log as Termset.\n"
        "\n"
        "Commands:\n"
        "  read   TARGET [-o FILE.act]     read the terminal's configuration into FILE.act\n"
        "                                  (standard output without -o, or with -o -)\n"
        "  write  FILE.act TARGET          write FILE.act into the terminal (asks for the\n"
        "         [--password-file FILE]   password, or takes the first line of FILE)\n"
        "         [--strict]               (--strict: refuse a FILE others may read)\n"
        "  status TARGET                   show the terminal's status\n"
        "  ports  [--remote HOST[:PORT]]   list the local serial devices (COM name, device,\n"
        "                                  description, state), or the gateway's serial\n"
        "                                  ports, one a line\n"
        "  show   FILE.act                 describe the configuration page by page\n"
        "  diff   A.act B.act              list the fields that differ\n"
        "  clock  PORTS [--set]            the terminal's clock beside this machine's; --set\n"
        "                                  sets it to this machine's local time\n"
        "  keys list PORTS [--format table|csv|json]\n"
        "                                  the keys the terminal knows (csv: a key file)\n"
        "  keys add ID ACCESS PORTS        give a key (14 hex digits) access 0..255\n"
        "  keys remove ID PORTS            take a key out\n"
        "  keys clear PORTS [--yes]        remove every key (asks first on a terminal)\n"
        "  keys diff KEYS.csv PORTS        what sync would change: + ID ACCESS, - ID,\n"
        "                                  ~ ID OLD -> NEW (exit 1 when different)\n"
        "  keys sync KEYS.csv PORTS [--dry-run]\n"
        "                                  send only the difference, then check the table\n"
        "  (add, remove, clear and sync take the password like write; every key change\n"
        "  goes to keys.log beside the transfer log. A key file is CSV with the header\n"
        "  id,access,name; a file with a bad line is refused whole.)\n"
        "\n"
        "TARGET is a terminal on a local serial port or behind a remote gateway:\n"
        "  --port COMn [--baud 2400|4800|9600]   COM1 to COM10 or a device path such as\n"
        "                                        /dev/ttyUSB0, 9600 baud unless given\n"
        "  --remote HOST[:PORT] --serial N       the gateway's dotted IPv4 address and TCP\n"
        "                                        port (default: Termset's, 15027 unless\n"
        "                                        changed) and its serial port N\n"
        "         [--timeout SECONDS]            the longest wait for each step of a remote\n"
        "                                        request (default: Termset's, 10 s to connect\n"
        "                                        and send, 20 s for the reply; 0: no limit)\n"
        "PORTS is one or more --port COMn|DEVICE [--baud ...].\n"
        "--port (and --serial with one --remote) may be given several times for read,\n"
        "write, status, clock and keys: the terminals are served at once, each result\n"
        "line starts with its port, the exit status is the worst; read then needs\n"
        "-o with {port} in the file name (the COM name or the device's base name).\n"
        "\n"
        "Options:\n"
        "  --language NAME   show texts in this language (default: Termset's choice)\n"
        "  --log FILE        append the transfer log line of a write to FILE instead of\n"
        "                    the file \"log\" in the program folder\n"
        "  --help, --version\n"
        "\n"
        "Writing needs the password set in Termset (File, Change Password).\n"
        "Progress is shown on standard error when it is a terminal; Ctrl-C stops a\n"
        "serial transfer after the current word.\n"
        "\n"
        "Exit status:\n"
        "  0    done; diff, keys diff: the same\n"
        "  1    diff, keys diff: they differ\n"
        "  2    wrong command line, or the language is not found\n"
        "  3    transfer failure: port not opened, terminal not answering or busy,\n"
        "       gateway error or connection failure (the message gives the result code)\n"
        "  4    a file cannot be read or written, or holds invalid configuration data\n"
        "  5    no password set, none given, or a wrong one\n"
        "  6    the communication control RK40COMM cannot be created (run regctl)\n"
        "  130  a serial transfer was interrupted\n");
}

} // namespace termsetcli
