// Register reads and writes of the configuration words 10..39 against a
// simulated terminal with wire timing at 9600 baud, compared with the time
// the bytes alone take on the wire; and how long a silent terminal keeps a
// read waiting.

#include "BenchSupport.h"

#include "rk40sim/Terminal.h"

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    rk40sim::Terminal terminal;
    terminal.setWireTiming(9600);
    for (int a = 10; a <= 39; ++a)
        terminal.setWord(a, static_cast<std::uint16_t>(0x8000 + a));
    qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));

    auto control = bench::createControl();
    bench::put(*control, "AsciiFileName", dir.filePath("reg.txt"));
    bench::put(*control, "WorkOnLine", false);
    bench::put(*control, "BaudRate", 9600);
    if (!bench::call(*control, "InitTerminal", {0}).toBool()) {
        std::fprintf(stderr, "InitTerminal failed\n");
        return 1;
    }

    bool ok = true;
    const int words = 30;

    auto start = bench::Clock::now();
    for (int a = 10; a <= 39; ++a)
        if (bench::call(*control, "ReadEEPR", {a}).toInt() != 0) {
            std::fprintf(stderr, "ReadEEPR(%d) failed\n", a);
            return 1;
        }
    // A read: SOH, ACK, two letters, three request bytes, six answer bytes.
    ok &= bench::report("30 x ReadEEPR (13 bytes each)", bench::msSince(start), words * 13 * bench::kByteMs9600, 1.15);

    start = bench::Clock::now();
    for (int a = 10; a <= 39; ++a)
        if (bench::call(*control, "WriteEEPR", {a, 0x8000 + a}).toInt() != 0) {
            std::fprintf(stderr, "WriteEEPR(%d) failed\n", a);
            return 1;
        }
    // A write: SOH, ACK, two letters, seven request bytes, the answer byte.
    ok &= bench::report("30 x WriteEEPR (12 bytes each)", bench::msSince(start), words * 12 * bench::kByteMs9600, 1.15);

    // A terminal that never answers the opening: the read gives up after its
    // attempt budget (200 attempts of about 2 ms, each empty one followed by
    // a 1 ms pause).
    terminal.injectFault({rk40sim::Fault::SilenceOnOpen}, rk40sim::kPersistent);
    start = bench::Clock::now();
    const int silent = bench::call(*control, "ReadEEPR", {10}).toInt();
    std::printf("%-44s %9.1f ms  (budget about 200 x (2 + 1) ms = 600 ms), result %d\n",
                "ReadEEPR against a silent terminal", bench::msSince(start), silent);

    bench::call(*control, "DestroyTerminal");
    return ok ? 0 : 1;
}
