// The listing responder as the main loop sees it.
#pragma once

#include <cstdint>

// Traffic of the query port since start-up, for the metrics file.
struct AseCounters {
    std::uint64_t bytesRead = 0;
    std::uint64_t datagramsRead = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t datagramsSent = 0;
    std::uint64_t repliesSent = 0;        // queries answered
    std::uint64_t repliesSuppressed = 0;  // queries left unanswered by the reply limits
};

class ASE {
public:
    // Starts the query module on the game port + 123 with master heartbeats; `address` is the
    // bound game address text, or null for all interfaces. A failed start is not reported: the
    // server then runs without a listing.
    ASE(int gamePort, const char* address);
    // The query socket stays open until the process ends.
    ~ASE() = default;

    ASE(const ASE&) = delete;
    ASE& operator=(const ASE&) = delete;

    // Answers waiting queries and sends a master heartbeat when one is due.
    int Update();
    // The query socket for the main loop's wait; -1 when there is none.
    int getSocketHandle() const;
    AseCounters getCounters() const;
};
