// The main loop's single wait: sleeps until one of the sockets has a datagram, the timeout passes
// or a signal arrives.
#pragma once

#include <csignal>
#include <cstdint>

// Waits on the descriptors (negative ones are skipped) for at most `timeoutMillis` (0 only
// checks). `signalMask`, when not null, is the mask in force during the wait, so that a signal
// blocked outside the wait still ends it without a race. True when some socket is readable.
bool waitForSockets(const int* sockets, int count, std::int64_t timeoutMillis,
                    const sigset_t* signalMask);
