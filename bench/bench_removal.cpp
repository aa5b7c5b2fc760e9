// How soon a serial read notices that its device went away: the terminal's
// side of the pseudo-terminal is closed in the middle of a 30-word read at
// 9600 baud, and the time from the close to the transfer's failure is
// measured, several times. Target: under 100 ms.

#include "BenchSupport.h"

#include "core/CRK40Comm.h"
#include "core/SerialTransfer.h"

#include "rk40sim/Terminal.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());  // the control's register file lands here
    CRK40Comm comm;
    if (!comm.Create()) {
        std::fprintf(stderr, "cannot create the control: %s\n", qPrintable(comm.errorText()));
        return 1;
    }
    comm.SetWorkOnLine(false);

    constexpr int kRuns = 10;
    std::vector<double> delays;
    for (int run = 0; run < kRuns; ++run) {
        rk40sim::Terminal terminal;
        terminal.setWireTiming(9600);
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        std::atomic<bench::Clock::time_point> removedAt{bench::Clock::time_point{}};
        // Closed while the 15th word is being read (a different moment of
        // the exchange each run, as the wait wakes up at its own pace).
        std::thread vanish([&] {
            if (terminal.waitForCommand('a', 15, std::chrono::seconds(60))) {
                std::this_thread::sleep_for(std::chrono::microseconds(700 * run));
                terminal.disconnectNow();
                removedAt = bench::Clock::now();
            }
        });
        LastTerminal record;
        serialxfer::SerialTransfer transfer(comm, record, nullptr);
        serialxfer::ITransferObserver observer;
        const serialxfer::Outcome out = transfer.read({0, 9600}, observer);
        const auto failedAt = bench::Clock::now();
        vanish.join();
        if (out.status != serialxfer::Outcome::WordFailed || !out.reason.contains("removed")) {
            std::fprintf(stderr, "run %d: the read did not fail with the removal (status %d, %s)\n", run,
                         int(out.status), qPrintable(out.reason));
            return 1;
        }
        delays.push_back(std::chrono::duration<double, std::milli>(failedAt - removedAt.load()).count());
    }
    std::sort(delays.begin(), delays.end());
    bool ok = bench::report("removal to failure, median of 10", delays[delays.size() / 2], 100.0, 1.0);
    ok &= bench::report("removal to failure, worst of 10", delays.back(), 100.0, 1.0);
    return ok ? 0 : 1;
}
