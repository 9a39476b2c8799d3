#include "net/SocketWait.h"

#include <poll.h>

bool waitForSockets(const int* sockets, int count, std::int64_t timeoutMillis,
                    const sigset_t* signalMask) {
    constexpr int kMaxSockets = 8;
    pollfd entries[kMaxSockets];
    nfds_t used = 0;
    for (int i = 0; i < count && used < kMaxSockets; ++i) {
        if (sockets[i] < 0) continue;
        entries[used++] = pollfd{sockets[i], POLLIN, 0};
    }
    if (timeoutMillis < 0) timeoutMillis = 0;
    timespec timeout{static_cast<time_t>(timeoutMillis / 1000),
                     static_cast<long>(timeoutMillis % 1000) * 1000000L};
    return ppoll(entries, used, &timeout, signalMask) > 0;
}
