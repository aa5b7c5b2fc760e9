#pragma once

// Shared pieces of the benchmarks: a control created through the registry,
// a simulated terminal with wire timing, and a line that reports a figure
// against its target.

#include "platform/component/Dispatch.h"
#include "platform/component/Registry.h"

#include <QTextStream>
#include <QVariant>

#include <chrono>
#include <cstdio>
#include <memory>

namespace bench {

// One byte at 9600 baud, 8N1: ten bits.
constexpr double kByteMs9600 = 10.0 / 9600.0 * 1000.0;

inline std::unique_ptr<component::IDispatchControl> createControl()
{
    QString error;
    auto control = component::createControl("RK40COMM.RK40CommCtrl.1", nullptr, &error);
    if (!control) {
        std::fprintf(stderr, "cannot create the control: %s\n", qPrintable(error));
        std::exit(1);
    }
    control->initNew();
    return control;
}

inline QVariant call(component::IDispatchControl& c, const char* name, const QVariantList& args = {})
{
    const auto* m = c.typeLibrary().dispatch.member(QString::fromLatin1(name));
    const auto kind = m->kind == component::MemberKind::Method ? component::InvokeKind::Method
                                                               : component::InvokeKind::PropertyGet;
    const auto r = c.invoke(m->dispid, kind, args);
    if (!r.ok()) {
        std::fprintf(stderr, "%s failed: %s\n", name, qPrintable(r.error));
        std::exit(1);
    }
    return r.value;
}

inline void put(component::IDispatchControl& c, const char* name, const QVariant& value)
{
    const auto* m = c.typeLibrary().dispatch.member(QString::fromLatin1(name));
    const auto r = c.invoke(m->dispid, component::InvokeKind::PropertyPut, {value});
    if (!r.ok()) {
        std::fprintf(stderr, "put %s failed: %s\n", name, qPrintable(r.error));
        std::exit(1);
    }
}

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Prints "what: measured ms, limit ms, ratio r (target <= t) ok|OVER" and
// returns whether the ratio met its target.
inline bool report(const char* what, double measuredMs, double limitMs, double targetRatio)
{
    const double ratio = measuredMs / limitMs;
    const bool ok = ratio <= targetRatio;
    std::printf("%-44s %9.1f ms  limit %9.1f ms  ratio %5.3f  (target <= %.2f) %s\n", what, measuredMs, limitMs,
                ratio, targetRatio, ok ? "ok" : "OVER");
    std::fflush(stdout);
    return ok;
}

} // namespace bench
