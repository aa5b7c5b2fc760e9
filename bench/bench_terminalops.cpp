// Terminal operations at 9600 baud against simulated terminals with wire
// timing, each compared with the time its bytes need on the line (both
// directions, counted by the simulator): listing 200 keys, syncing 200 new
// keys, a sync that changes one key of 200 (one change, not 200); and
// termset-cli writing one configuration to eight terminals at once beside
// the same write to one.

#include "BenchSupport.h"

#include "terminalops/TerminalOps.h"

#include "rk40sim/Terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

constexpr int kKeys = 200;

QString keyId(int i) { return QString::asprintf("%014llX", 0x10000000001ull * unsigned(i + 1)); }

double wireMs(const rk40sim::Terminal& t)
{
    return double(t.received().size() + t.transmitted().size()) * bench::kByteMs9600;
}

void resetCounts(rk40sim::Terminal& t)
{
    t.clearReceived();
    t.clearTransmitted();
}

// Runs termset-cli write on the given terminals; the time it takes.
double cliWrite(const QTemporaryDir& dir, const std::vector<std::unique_ptr<rk40sim::Terminal>>& terminals)
{
    QStringList args{"write", dir.filePath("door.act"), "--password-file", dir.filePath("pw"), "--log",
                     dir.filePath("log")};
    for (const auto& t : terminals)
        args << "--port" << QString::fromStdString(t->slavePath());
    QProcess cli;
    const auto start = bench::Clock::now();
    cli.start(QCoreApplication::applicationDirPath() + "/termset-cli", args);
    cli.waitForFinished(600000);
    const double ms = bench::msSince(start);
    if (cli.exitCode() != 0) {
        std::fprintf(stderr, "termset-cli write failed: %s\n", cli.readAllStandardError().constData());
        std::exit(1);
    }
    return ms;
}

bool concurrentWrites()
{
    QTemporaryDir dir;
    QFile pw(dir.filePath("pw"));
    pw.open(QIODevice::WriteOnly);
    pw.write("secret\n");
    pw.close();
    pw.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Veltrona");
    QFile profile(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Veltrona/Termset.conf");
    profile.open(QIODevice::WriteOnly);
    profile.write("[Settings]\nParam1=9170\n");   // the checksum of "secret"
    profile.close();
    QFile act(dir.filePath("door.act"));
    act.open(QIODevice::WriteOnly);
    for (int a = 10; a <= 39; ++a)
        act.write(QString::asprintf("%02d %04X\r\n", a, 0x8000 + a).toLatin1());
    act.close();

    std::vector<std::unique_ptr<rk40sim::Terminal>> one, eight;
    for (int i = 0; i < 9; ++i) {
        auto t = std::make_unique<rk40sim::Terminal>();
        t->setWireTiming(9600);
        (i == 0 ? one : eight).push_back(std::move(t));
    }
    const double oneMs = cliWrite(dir, one);
    const double eightMs = cliWrite(dir, eight);
    std::printf("termset-cli write, 1 terminal: %.1f ms; 8 terminals: %.1f ms\n", oneMs, eightMs);
    return bench::report("write to 8 terminals against 1", eightMs, oneMs, 1.3);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    rk40sim::Terminal terminal;
    terminal.setWireTiming(9600);
    auto control = bench::createControl();
    bench::put(*control, "WorkOnLine", false);
    bench::put(*control, "AsciiFileName", QString());
    terminalops::TerminalOps ops(*control);
    if (!ops.open({0, QString::fromStdString(terminal.slavePath()), 9600}).ok()) {
        std::fprintf(stderr, "cannot open the simulated terminal\n");
        return 1;
    }
    bool ok = true;

    for (int i = 0; i < kKeys; ++i)
        terminal.addIdElement(rk40sim::Terminal::reverseIdBytes(keyId(i).toStdString()), std::uint8_t(i % 256));
    resetCounts(terminal);
    auto start = bench::Clock::now();
    const terminalops::KeyListing listing = ops.listKeys();
    double ms = bench::msSince(start);
    if (!listing.result.ok() || listing.keys.size() != std::size_t(kKeys)) {
        std::fprintf(stderr, "listing failed: %s\n", qPrintable(listing.result.text()));
        return 1;
    }
    ok &= bench::report("list 200 keys at 9600", ms, wireMs(terminal), 1.15);
    const double listingMs = ms;

    terminal.clearIdTable();
    terminalops::KeyList wanted;
    for (int i = 0; i < kKeys; ++i)
        wanted.push_back({keyId(i), (i * 7) % 256, {}});
    resetCounts(terminal);
    start = bench::Clock::now();
    terminalops::SyncOutcome sync = ops.syncKeys(wanted);
    ms = bench::msSince(start);
    if (!sync.equal) {
        std::fprintf(stderr, "sync of 200 new keys failed\n");
        return 1;
    }
    ok &= bench::report("sync 200 new keys at 9600", ms, wireMs(terminal), 1.15);

    wanted[100].access = (wanted[100].access + 1) % 256;
    resetCounts(terminal);
    const int adds = terminal.commandCount('i'), removes = terminal.commandCount('e');
    start = bench::Clock::now();
    sync = ops.syncKeys(wanted);
    ms = bench::msSince(start);
    const int changes = terminal.commandCount('i') - adds + terminal.commandCount('e') - removes;
    std::printf("sync changing 1 key of 200: %d key frames, %.1f ms (two listings %.1f ms)\n", changes, ms,
                2 * listingMs);
    ok &= sync.equal && changes == 2;
    ok &= bench::report("sync changing 1 key of 200 at 9600", ms, wireMs(terminal), 1.15);
    ops.close();

    ok &= concurrentWrites();
    return ok ? 0 : 1;
}
