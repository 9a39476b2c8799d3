// The floor: the least any relay must do. A forked process that reads datagrams with recvmmsg
// and sends each one, unchanged, to every other registered player with one sendmmsg. No cipher,
// no parsing, no state beyond the address list. A datagram from an unknown address registers it
// and is echoed back to it alone, which tells the player it is in.
//
// Fairness: the generator does the same work against the floor as against the server. It seals
// every report and opens every copy in both cases; here all players share the general key, so a
// receiver can open a forwarded copy without knowing who sent it. The server relays
// [10, id, record] (40 bytes) where the floor forwards the sender's [10, record] (39 bytes): both
// are 48-byte envelopes, three AES blocks to open. What differs between the two runs is the
// relay alone. (Skipping the cipher in floor mode would make the generator cheaper there and
// flatter the floor's latency.) The server also sends each player a ping and 32 ping reports a
// second, about 3 % more datagrams for the generator at 32 x 30 Hz, which the floor does not.
#pragma once

#include <sys/types.h>

namespace zevload {

struct FloorRelay {
    pid_t pid = -1;
    int port = 0;
};

// Binds 127.0.0.1 on a free port, forks the relay and pins it to `cpu` (no pinning when `cpu`
// is negative). The child dies with its parent. False on failure, with a message on stderr.
bool startFloorRelay(int cpu, FloorRelay* relay);

// Kills the relay and reaps it.
void stopFloorRelay(FloorRelay* relay);

}  // namespace zevload
