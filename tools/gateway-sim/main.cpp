// gateway-sim: a remote gateway on 127.0.0.1 with simulated terminals on its
// serial ports. Prints the port it listens on as the first line of its
// output, then serves until SIGINT or SIGTERM (or "quit" on its input).
//
// Commands on standard input, one a line, change how the next replies go:
//   ok                      normal replies
//   error CODE              reply with this result code
//   fault MODE [CUT] [MS]   MODE: normal short split slow empty silent reset
//                           reset-on-accept half-close dribble
//   oversize BYTES          replies grown to BYTES (0: as they are)
//   keep-open on|off        keep connections open after replying
//   full-stop on|off        end reply data with a full stop (on) or not
//   ports 1,2,3             the serial ports
//   word PORT ADDR VALUE    set a word of a terminal (decimal)
//   requests                print the requests received so far
//   quit

#include "GatewaySimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

using namespace gatewaysim;

namespace {

std::vector<int> parsePorts(const QString& text, bool* ok)
{
    std::vector<int> ports;
    *ok = true;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool good = false;
        const int port = part.trimmed().toInt(&good);
        if (!good || port < 0 || port > 255) {
            *ok = false;
            return {};
        }
        ports.push_back(port);
    }
    return ports;
}

bool parseMode(const QString& name, Mode* mode)
{
    static const std::pair<const char*, Mode> modes[] = {
        {"normal", Mode::Normal}, {"short", Mode::Short}, {"split", Mode::Split},
        {"slow", Mode::Slow},     {"empty", Mode::Empty}, {"silent", Mode::Silent},
        {"reset", Mode::Reset},   {"reset-on-accept", Mode::ResetOnAccept},
        {"half-close", Mode::HalfClose}, {"dribble", Mode::Dribble},
    };
    for (const auto& [text, value] : modes) {
        if (name == QLatin1String(text)) {
            *mode = value;
            return true;
        }
    }
    return false;
}

// Reads commands until end of input or "quit"; returns true for "quit".
bool runCommands(GatewaySimulator& simulator, Behaviour behaviour)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        const QStringList words = QString::fromStdString(line).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString& command = words[0];
        bool good = true;
        if (command == QLatin1String("quit")) {
            return true;
        } else if (command == QLatin1String("ok")) {
            behaviour.mode = Mode::Normal;
            behaviour.resultCode = 0;
        } else if (command == QLatin1String("error") && words.size() == 2) {
            behaviour.resultCode = words[1].toInt(&good);
        } else if (command == QLatin1String("fault") && words.size() >= 2) {
            good = parseMode(words[1], &behaviour.mode);
            if (good && words.size() >= 3)
                behaviour.cut = words[2].toInt(&good);
            if (good && words.size() >= 4)
                behaviour.delay = std::chrono::milliseconds(words[3].toInt(&good));
        } else if (command == QLatin1String("oversize") && words.size() == 2) {
            behaviour.oversize = words[1].toInt(&good);
            good = good && behaviour.oversize >= 0;
        } else if (command == QLatin1String("keep-open") && words.size() == 2) {
            behaviour.keepOpen = words[1] == QLatin1String("on");
        } else if (command == QLatin1String("full-stop") && words.size() == 2) {
            behaviour.noFullStop = words[1] == QLatin1String("off");
        } else if (command == QLatin1String("ports") && words.size() == 2) {
            const std::vector<int> ports = parsePorts(words[1], &good);
            if (good)
                simulator.setSerialPorts(ports);
        } else if (command == QLatin1String("word") && words.size() == 4) {
            bool a = false, b = false, c = false;
            const int port = words[1].toInt(&a), address = words[2].toInt(&b), value = words[3].toInt(&c);
            good = a && b && c && address >= 0 && address <= 255 && value >= 0 && value <= 65535;
            if (good) {
                SimTerminal terminal = simulator.terminal(port);
                terminal.eeprom[static_cast<std::size_t>(address)] = static_cast<quint16>(value);
                simulator.setTerminal(port, terminal);
            }
        } else if (command == QLatin1String("requests")) {
            for (const QByteArray& request : simulator.requests())
                std::printf("%s\n", request.constData());
        } else {
            good = false;
        }
        if (good)
            simulator.setDefaultBehaviour(behaviour);
        std::printf(good ? "ok\n" : "?\n");
        std::fflush(stdout);
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gateway-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A remote gateway with simulated terminals on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port (0: any free port)."),
                                        QStringLiteral("port"), QString::number(kDefaultPort));
    const QCommandLineOption serialOption(QStringLiteral("serial-ports"),
                                          QStringLiteral("Serial ports with a terminal, e.g. 1,2,3."),
                                          QStringLiteral("list"), QStringLiteral("1,2"));
    const QCommandLineOption errorOption(QStringLiteral("error"), QStringLiteral("Reply with this result code."),
                                         QStringLiteral("code"), QStringLiteral("0"));
    const QCommandLineOption faultOption(QStringLiteral("fault"),
                                         QStringLiteral("normal, short, split, slow, empty or silent."),
                                         QStringLiteral("mode"), QStringLiteral("normal"));
    const QCommandLineOption cutOption(QStringLiteral("cut"), QStringLiteral("Bytes of a short reply or a piece."),
                                       QStringLiteral("bytes"), QStringLiteral("20"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Milliseconds before a slow reply or between pieces."),
                                         QStringLiteral("ms"), QStringLiteral("500"));
    const QCommandLineOption keepOpenOption(QStringLiteral("keep-open"),
                                            QStringLiteral("Keep connections open after replying."));
    const QCommandLineOption noFullStopOption(QStringLiteral("no-full-stop"),
                                              QStringLiteral("Send reply data without its closing full stop."));
    parser.addOptions({portOption, serialOption, errorOption, faultOption, cutOption, delayOption, keepOpenOption,
                       noFullStopOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "gateway-sim: bad port %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }
    const std::vector<int> serialPorts = parsePorts(parser.value(serialOption), &ok);
    Behaviour behaviour;
    bool good = ok && parseMode(parser.value(faultOption), &behaviour.mode);
    behaviour.resultCode = parser.value(errorOption).toInt(&ok);
    good = good && ok;
    behaviour.cut = parser.value(cutOption).toInt(&ok);
    good = good && ok;
    behaviour.delay = std::chrono::milliseconds(parser.value(delayOption).toInt(&ok));
    good = good && ok;
    behaviour.keepOpen = parser.isSet(keepOpenOption);
    behaviour.noFullStop = parser.isSet(noFullStopOption);
    if (!good) {
        std::fprintf(stderr, "gateway-sim: bad option value\n");
        return 2;
    }

    // SIGINT and SIGTERM end the simulator; they are taken by sigwait below,
    // so every thread started from here on blocks them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    GatewaySimulator simulator;
    simulator.setSerialPorts(serialPorts);
    simulator.setDefaultBehaviour(behaviour);
    QString error;
    if (!simulator.start(static_cast<quint16>(port), &error)) {
        std::fprintf(stderr, "gateway-sim: cannot listen on 127.0.0.1:%u: %s\n", port, qPrintable(error));
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(simulator.port()));
    std::fflush(stdout);
    std::fprintf(stderr, "gateway-sim: listening on 127.0.0.1:%u\n", static_cast<unsigned>(simulator.port()));

    // Commands come from a thread of their own so that a signal ends the
    // program even while it waits for input; "quit" sends itself SIGTERM.
    std::thread commands([&simulator, behaviour] {
        if (runCommands(simulator, behaviour))
            ::kill(::getpid(), SIGTERM);
    });
    commands.detach();

    int received = 0;
    sigwait(&endSignals, &received);
    simulator.stop();
    std::fflush(stdout);
    std::_Exit(0);   // the command thread may still sit in a read of standard input
}
