// The harnesses run the serial link with its pauses between empty read
// attempts; on the in-memory line nothing can arrive during a pause, so the
// pauses are skipped. std::this_thread::sleep_for ends in nanosleep(), which
// this definition replaces for the whole harness program. (<time.h> is left
// out on purpose: its declaration carries compiler-specific attributes.)

struct timespec;

extern "C" int nanosleep(const struct timespec*, struct timespec*) noexcept
{
    return 0;   // a successful sleep leaves nothing remaining
}
