#pragma once

// Helpers of the serial fault tests: a control that times every call made
// through it, an event recorder, the seed of a run, the heap in use.

#include "CRK40CommCtrl.h"
#include "Dispatch.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <random>

#include <malloc.h>

extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace faults {

// Forwards everything to the real control and keeps the longest time each
// member took, so that a test can hold every call to its time budget.
class TimedControl final : public component::IDispatchControl {
public:
    explicit TimedControl(std::unique_ptr<rk40::CRK40CommCtrl> control) : m_control(std::move(control)) {}
    rk40::CRK40CommCtrl& control() { return *m_control; }

    const component::TypeLibInfo& typeLibrary() const override { return m_control->typeLibrary(); }
    component::InvokeResult invoke(int dispid, component::InvokeKind kind, const QVariantList& args = {}) override
    {
        QElapsedTimer timer;
        timer.start();
        auto result = m_control->invoke(dispid, kind, args);
        qint64& longest = m_longest[dispid];
        longest = std::max(longest, timer.elapsed());
        return result;
    }
    void advise(component::IEventSink* sink) override { m_control->advise(sink); }
    void unadvise(component::IEventSink* sink) override { m_control->unadvise(sink); }
    void initNew() override { m_control->initNew(); }
    component::HRESULT load(const component::PropertyBag& bag) override { return m_control->load(bag); }
    component::HRESULT save(component::PropertyBag& bag) const override { return m_control->save(bag); }
    bool isDirty() const override { return m_control->isDirty(); }
    QWidget* createFace(QWidget* parent) override { return m_control->createFace(parent); }

    // Longest call of a member so far, in ms.
    qint64 longest(int dispid) const
    {
        const auto it = m_longest.find(dispid);
        return it == m_longest.end() ? 0 : it->second;
    }

private:
    std::unique_ptr<rk40::CRK40CommCtrl> m_control;
    std::map<int, qint64> m_longest;
};

// The seed of a random run: RK40_FAULT_SEED when set (to replay a failure),
// otherwise a new one. The caller prints it.
inline std::uint64_t runSeed()
{
    if (qEnvironmentVariableIsSet("RK40_FAULT_SEED"))
        return qEnvironmentVariable("RK40_FAULT_SEED").toULongLong();
    return std::random_device{}() ^ (static_cast<std::uint64_t>(std::random_device{}()) << 32);
}

// Bytes of heap in use: the sanitizer's count when it runs (it leaves out
// the freed memory it holds back), the C library's otherwise.
inline std::size_t heapInUse()
{
    if (__sanitizer_get_current_allocated_bytes)
        return __sanitizer_get_current_allocated_bytes();
    return mallinfo2().uordblks;
}

// Attempt budgets of the exchanges, as wall time with room for a slow,
// loaded machine: a read attempt waits 2 ms, an empty one pauses 1 ms more.
constexpr qint64 kAttemptMs = 3;
// A register read: the opening's 200 attempts, then six answer bytes of
// 200 attempts each.
constexpr qint64 kRegisterReadBudgetMs = 7 * 200 * kAttemptMs;
// Slack on top of a budget: sanitizers, a busy machine, thread start-up.
constexpr qint64 kSlackMs = 6000;

} // namespace faults
