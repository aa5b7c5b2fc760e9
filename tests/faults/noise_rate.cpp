// How often a wrong register word gets through a noisy line: end to end.
//
//   faults_noise_rate [--seconds S] [--ppm P] [--kinds rldi] [--seed N] [--to-pc-only]
//
// Register reads through the control (ReadEEPR, the word left in EepromLoc)
// against the terminal simulator on a pseudo-terminal for S seconds, each
// byte on the line, both ways, replaced, lost, doubled or preceded by a
// random byte with P parts per million each (--kinds picks some of
// r replaced, l lost, d doubled, i inserted; --to-pc-only spares the PC's
// requests: lost bytes and damaged requests end in silence, which costs a
// read half a second, while the other damage fails or passes at once). Prints the counts, the rates,
// every wrong word and the seed (faults_noise_model counts the same on an
// in-memory line, much faster).
//
// Exit code 0 unless something other than noise went wrong: a word
// reported read that was never stored.

#include "CRK40CommCtrl.h"
#include "NoiseTally.h"
#include "TestEnvironment.h"

#include <rk40sim/Terminal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <optional>
#include <random>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const noisetally::Options options = noisetally::parseOptions(app.arguments(), "--seconds");
    double seconds = 5;
    if (options.extra)
        seconds = options.extra->toDouble();
    const std::uint64_t seed = options.seed;
    rk40sim::LineNoise noise = noisetally::lineNoise(options);
    noise.fromPc = !app.arguments().contains(QLatin1String("--to-pc-only"));
    std::printf("noise: %d ppm each of %s bytes, %s; seed %llu\n", options.ppm, qPrintable(noisetally::kindNames(options.kinds)),
                noise.fromPc ? "both ways" : "to the PC only", static_cast<unsigned long long>(seed));

    testsupport::TestEnvironment env;
    rk40sim::Terminal sim;
    qputenv("RK40_COM1", QByteArray::fromStdString(sim.slavePath()));
    rk40::CRK40CommCtrl ctrl;
    ctrl.invoke(rk40::dispid::AsciiFileName, component::InvokeKind::PropertyPut, {env.path("reg.txt")});
    ctrl.invoke(rk40::dispid::WorkOnLine, component::InvokeKind::PropertyPut, {false});
    if (!ctrl.InitTerminal(0)) {
        std::fprintf(stderr, "cannot open the simulated terminal\n");
        return 2;
    }
    sim.setLineNoise(noise);
    std::mt19937_64 random(seed ^ 0x5eedu);
    noisetally::Tally t;
    bool broken = false;
    const auto at = [](int address) { return QVariant::fromValue<qint16>(static_cast<qint16>(address)); };
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        const int address = 10 + static_cast<int>(random() % 30);
        const auto value = static_cast<std::uint16_t>(random());
        sim.setWord(address, value);
        ctrl.invoke(rk40::dispid::EepromLoc, component::InvokeKind::PropertyPut, {at(address), QStringLiteral("MARK")});
        const auto before = sim.lineNoiseCounts();
        const qint16 result = ctrl.ReadEEPR(static_cast<qint16>(address));
        const auto after = sim.lineNoiseCounts();
        const QString got =
            ctrl.invoke(rk40::dispid::EepromLoc, component::InvokeKind::PropertyGet, {at(address)}).value.toString();
        t.damaged += after.damaged() != before.damaged();
        if (result != 0) {
            ++t.failed;
        } else if (noisetally::sameValue(got.toStdString(), noisetally::hex4(value))) {
            ++t.right;
            t.otherCase += got != QString::fromStdString(noisetally::hex4(value));
        } else if (got == QLatin1String("MARK")) {
            std::fprintf(stderr, "word %d reported read but not stored\n", address);
            broken = true;
            ++t.wrong;
        } else {
            ++t.wrong;
            const bool shifted = after.inserted + after.duplicated + after.dropped
                                 != before.inserted + before.duplicated + before.dropped;
            t.wrongAfterShift += shifted;
            std::printf("  wrong: word %d read as \"%s\", the terminal holds %s\n", address,
                        got.toLatin1().toPercentEncoding(" ").constData(), noisetally::hex4(value).c_str());
        }
    }
    ctrl.DestroyTerminal();
    noisetally::print("line", t, static_cast<double>(timer.elapsed()) / 1000.0);
    return broken ? 1 : 0;
}
