// What /proc says about another process: CPU time, wake-ups, memory and descriptors.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace zevload {

// utime + stime of `pid` (all its threads) in microseconds, from /proc/<pid>/stat; -1 when it
// cannot be read. The kernel counts in clock ticks, so the resolution is 1/CLK_TCK seconds.
std::int64_t readProcessCpuMicros(pid_t pid);

// The main thread's time on a CPU in nanoseconds, from /proc/<pid>/schedstat: far finer than
// the ticks of /proc/<pid>/stat, for figures as small as an idle server's. -1 when unavailable.
std::int64_t readScheduledCpuNanos(pid_t pid);

// voluntary_ctxt_switches + nonvoluntary_ctxt_switches of `pid`'s main thread, from
// /proc/<pid>/status; -1 when it cannot be read.
std::int64_t readContextSwitches(pid_t pid);

// VmRSS of `pid` in KiB, from /proc/<pid>/status; -1 when it cannot be read (the process is
// gone).
std::int64_t readResidentKib(pid_t pid);

// The number of open descriptors of `pid`, from /proc/<pid>/fd; -1 when it cannot be listed.
int countDescriptors(pid_t pid);

// This process's own user + system time in microseconds.
std::int64_t ownCpuMicros();

// Pins the calling thread (and what it forks later) to `cpu`. False when that fails.
bool pinToCpu(int cpu);
// Lets the calling thread run on every CPU again (a child of a pinned generator must not stay
// on the generator's CPU unless asked).
void unpin();

}  // namespace zevload
