#pragma once

// Counting the outcomes of register reads over a noisy line.

#include <rk40sim/Terminal.h>

#include <QString>
#include <QStringList>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>

namespace noisetally {

struct Tally {
    std::uint64_t right = 0, failed = 0, wrong = 0, damaged = 0, wrongAfterShift = 0;
    std::uint64_t otherCase = 0;   // among right: the value right, a letter in the other case
    std::uint64_t reads() const { return right + failed + wrong; }
};

inline void print(const char* what, const Tally& t, double seconds)
{
    const double reads = static_cast<double>(t.reads());
    std::printf("%-6s %10llu reads in %6.1f s, %llu of them damaged: %llu right, %llu failed (%.3f%%), %llu wrong "
                "(%.2e per read, %.2e per damaged read; %llu after a lost or added byte); %llu right in the other case\n",
                what, static_cast<unsigned long long>(t.reads()), seconds, static_cast<unsigned long long>(t.damaged),
                static_cast<unsigned long long>(t.right), static_cast<unsigned long long>(t.failed),
                reads > 0 ? 100.0 * static_cast<double>(t.failed) / reads : 0.0,
                static_cast<unsigned long long>(t.wrong), reads > 0 ? static_cast<double>(t.wrong) / reads : 0.0,
                t.damaged > 0 ? static_cast<double>(t.wrong) / static_cast<double>(t.damaged) : 0.0,
                static_cast<unsigned long long>(t.wrongAfterShift), static_cast<unsigned long long>(t.otherCase));
    std::fflush(stdout);
}

// Kinds of damage by letter: r replaced, l lost, d doubled, i inserted.
inline void setKinds(rk40sim::LineNoise& noise, const QString& kinds, int ppm)
{
    noise.corruptPpm = kinds.contains(QLatin1Char('r')) ? ppm : 0;
    noise.dropPpm = kinds.contains(QLatin1Char('l')) ? ppm : 0;
    noise.duplicatePpm = kinds.contains(QLatin1Char('d')) ? ppm : 0;
    noise.insertPpm = kinds.contains(QLatin1Char('i')) ? ppm : 0;
}

inline QString kindNames(const QString& kinds)
{
    QStringList names;
    if (kinds.contains(QLatin1Char('r')))
        names << QStringLiteral("replaced");
    if (kinds.contains(QLatin1Char('l')))
        names << QStringLiteral("lost");
    if (kinds.contains(QLatin1Char('d')))
        names << QStringLiteral("doubled");
    if (kinds.contains(QLatin1Char('i')))
        names << QStringLiteral("inserted");
    return names.join(QLatin1String(", "));
}

// Whether two words name the same value (hexadecimal digits in either case).
inline bool sameValue(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

inline std::string hex4(unsigned v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v & 0xFFFFu);
    return b;
}

// The options both measurements share: --ppm, --seed and --kinds; the
// value of one more (--reads, --seconds) is handed back through extra.
struct Options {
    int ppm = 2000;
    std::uint64_t seed = std::random_device{}();
    QString kinds = QStringLiteral("rldi");
    std::optional<QString> extra;
};

inline Options parseOptions(const QStringList& args, const char* extraName)
{
    // The value after an option, if the option is given.
    const auto option = [&](const char* name) -> std::optional<QString> {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at >= 1 && at + 1 < args.size() ? std::optional<QString>(args[at + 1]) : std::nullopt;
    };
    Options o;
    o.extra = option(extraName);
    if (const auto v = option("--ppm"))
        o.ppm = v->toInt();
    if (const auto v = option("--seed"))
        o.seed = v->toULongLong();
    if (const auto v = option("--kinds"))
        o.kinds = *v;
    return o;
}

// The line noise the options ask for.
inline rk40sim::LineNoise lineNoise(const Options& o)
{
    rk40sim::LineNoise noise;
    noise.seed = o.seed;
    setKinds(noise, o.kinds, o.ppm);
    return noise;
}

} // namespace noisetally
