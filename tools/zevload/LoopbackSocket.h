// The sockets of scripted clients: each on a loopback address of its own, connected to one port
// of 127.0.0.1, non-blocking, with a receive queue deep enough that it never is the one that
// overflows.
#pragma once

#include <cstdint>

namespace zevload {

// 127.0.(base + index / 250).(1 + index % 250), in host order: every client its own address, so
// that rules kept per address (the join flood) treat each as a separate machine.
std::uint32_t clientAddress(int addressBase, int index);

// Opens a UDP socket bound to `localAddress` (host order, any port) and connected to
// 127.0.0.1:`targetPort`. Returns the descriptor, or -1 with a message on stderr.
int openClientSocket(std::uint32_t localAddress, int targetPort);

}  // namespace zevload
