// The configurator's whole serial write and read of the thirty
// configuration words at 9600 baud against a simulated terminal with wire
// timing, compared with the time the line itself needs: for a write twelve
// bytes and the 25 ms pause per word, for a read thirteen bytes per word.

#include "BenchSupport.h"

#include "core/CRK40Comm.h"
#include "core/SerialTransfer.h"

#include "rk40sim/Terminal.h"

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());  // the control's register file lands here
    rk40sim::Terminal terminal;
    terminal.setWireTiming(9600);
    qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));

    CRK40Comm comm;
    if (!comm.Create()) {
        std::fprintf(stderr, "cannot create the control: %s\n", qPrintable(comm.errorText()));
        return 1;
    }
    comm.SetWorkOnLine(false);
    for (int a = 10; a <= 39; ++a)
        comm.SetEepromLoc(short(a), QString("%1").arg(0x1000 + a, 4, 16, QChar('0')).toUpper());

    LastTerminal record;
    const translog::TransferLog log(dir.filePath("log"));
    serialxfer::SerialTransfer transfer(comm, record, &log);
    serialxfer::ITransferObserver observer;
    const serialxfer::PortChoice port{0, 9600};
    bool ok = true;

    auto start = bench::Clock::now();
    auto outcome = transfer.write(port, observer);
    const double writeMs = bench::msSince(start);
    if (outcome.status != serialxfer::Outcome::Done) {
        std::fprintf(stderr, "write failed at word %d (%d)\n", outcome.failedAddress, outcome.lastResult);
        return 1;
    }
    ok &= bench::report("WriteConfiguration, 30 words at 9600", writeMs, 30 * (12 * bench::kByteMs9600 + 25.0), 1.10);

    start = bench::Clock::now();
    outcome = transfer.read(port, observer);
    const double readMs = bench::msSince(start);
    if (outcome.status != serialxfer::Outcome::Done) {
        std::fprintf(stderr, "read failed at word %d (%d)\n", outcome.failedAddress, outcome.lastResult);
        return 1;
    }
    ok &= bench::report("ReadConfiguration, 30 words at 9600", readMs, 30 * 13 * bench::kByteMs9600, 1.10);
    return ok ? 0 : 1;
}
