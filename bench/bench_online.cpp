// The on-line control: how much processor time it takes while it waits for
// blocks (target: under 2% of one core), and how many blocks of 32 records a
// second it takes end to end (reception, hand-over, decoding, register file).

#include "BenchSupport.h"

#include "rk40sim/Terminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <sys/resource.h>
#include <thread>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class CountingSink : public component::IEventSink {
public:
    void onEvent(int, const QString& name, const QVariantList&) override
    {
        if (name == "RxRegs")
            ++blocks;
    }
    std::atomic<int> blocks{0};
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    rk40sim::Terminal terminal;
    qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));

    auto control = bench::createControl();
    CountingSink sink;
    control->advise(&sink);
    bench::put(*control, "AsciiFileName", dir.filePath("reg.txt"));
    bench::put(*control, "WorkOnLine", true);
    if (!bench::call(*control, "InitTerminal", {0}).toBool()) {
        std::fprintf(stderr, "InitTerminal failed\n");
        return 1;
    }

    // Idle: the reception thread polls the line; nothing arrives.
    constexpr int kIdleMs = 5000;
    runEventLoop(200);
    const double cpu0 = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    runEventLoop(kIdleMs);
    const double share = (cpuSeconds() - cpu0) / (double(idle.elapsed()) / 1000.0);
    const bool idleOk = share < 0.02;
    std::printf("%-44s %8.2f %% of one core  (target < 2 %%) %s\n", "idle on-line control", share * 100.0,
                idleOk ? "ok" : "OVER");

    // Throughput: the terminal sends blocks of 32 records back to back.
    std::vector<std::string> records;
    for (int i = 0; i < 32; ++i) {
        char r[20];
        std::snprintf(r, sizeof r, "0601210152%08d1", i);
        records.emplace_back(r, 19);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread feeder([&] {
        while (!stop) {
            terminal.sendOnlineBlock('S', records);
            if (!terminal.waitBlockDone(std::chrono::seconds(10)))
                break;
            ++sent;
        }
    });
    constexpr int kFloodMs = 5000;
    QElapsedTimer flood;
    flood.start();
    runEventLoop(kFloodMs);
    const double seconds = double(flood.elapsed()) / 1000.0;
    const int taken = sink.blocks;
    stop = true;
    QElapsedTimer drain;
    drain.start();
    while (feeder.joinable() && drain.elapsed() < 15000) {
        runEventLoop(20);  // the last block needs the event loop to finish
        if (sent.load() >= 0 && terminal.waitBlockDone(std::chrono::milliseconds(0)))
            break;
    }
    feeder.join();
    std::printf("%-44s %8.1f blocks/s  (%.0f records/s, no wire timing)\n", "blocks of 32 records taken",
                taken / seconds, taken * 32 / seconds);

    bench::call(*control, "DestroyTerminal");
    control->unadvise(&sink);
    return idleOk ? 0 : 1;
}
