// How often a wrong register word gets through a noisy line: the model.
//
//   faults_noise_model [--reads N] [--ppm P] [--kinds rldi] [--seed N]
//
// N register reads of random words through the PC's own code (the serial
// link's register read and the answer decoder, as ReadEEPR runs them) on an
// in-memory line; the terminal's six answer bytes are damaged on the way as
// the terminal simulator's noisy line damages them (each byte replaced,
// lost, doubled or preceded by a random byte, P parts per million each;
// --kinds picks some: r replaced, l lost, d doubled, i inserted).
// Millions of reads a minute, so that rare outcomes can be counted;
// faults_noise_rate checks the same end to end on a pseudo-terminal.
//
// Each read ends "right" (the terminal's word), "failed" (a failure is
// reported; the configurator retries or gives up) or "wrong" (a word that is
// not the terminal's is reported as read: damage the one-byte checksum
// cannot see).

#include "MemoryLine.h"
#include "NoiseTally.h"
#include "TerminalLink.h"

#include <rk40sim/Terminal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>
#include <random>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const noisetally::Options options = noisetally::parseOptions(app.arguments(), "--reads");
    std::uint64_t reads = 2'000'000;
    if (options.extra)
        reads = options.extra->toULongLong();
    const std::uint64_t seed = options.seed;
    rk40sim::LineNoise noise = noisetally::lineNoise(options);
    std::printf("noise: %d ppm each of %s bytes; seed %llu\n", options.ppm, qPrintable(noisetally::kindNames(options.kinds)),
                static_cast<unsigned long long>(seed));

    rk40::TerminalLink link;
    link.open(QStringLiteral("memory"), 9600);
    std::mt19937_64 random(seed);
    noisetally::Tally t;
    QElapsedTimer timer;
    timer.start();
    for (std::uint64_t i = 0; i < reads; ++i) {
        const std::string digits = noisetally::hex4(static_cast<unsigned>(random()));
        std::vector<std::uint8_t> answer{rk40::protocol::ACK};
        answer.insert(answer.end(), digits.begin(), digits.end());
        answer.push_back(rk40::protocol::checksum(digits));
        rk40sim::LineNoiseCounts counts;
        const auto wire = rk40sim::applyLineNoise(noise, random, counts, answer.data(), answer.size());
        t.damaged += counts.damaged() > 0;
        fuzzline::feed(wire);
        if (link.RegisterRead(10) != rk40::result::kOk) {
            ++t.failed;
            continue;
        }
        std::array<std::uint8_t, 6> frame{};
        std::copy_n(link.frame().begin(), 6, frame.begin());
        const auto word = rk40::protocol::decodeRegisterAnswer(frame);
        if (!word) {
            ++t.failed;
        } else if (noisetally::sameValue(*word, digits)) {
            ++t.right;
            t.otherCase += *word != digits;
        } else {
            ++t.wrong;
            t.wrongAfterShift += counts.inserted + counts.duplicated + counts.dropped > 0;
        }
    }
    noisetally::print("model", t, static_cast<double>(timer.elapsed()) / 1000.0);
    return 0;
}
