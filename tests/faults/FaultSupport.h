#pragma once

// Helpers of the fault tests: the seed of a random run, the heap in use,
// the attempt budgets of the serial exchanges.

#include <QString>

#include <cstdint>
#include <random>

#include <malloc.h>

extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace faults {

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
