// The listing module's state, shared by its query and master halves. One instance for the
// process; tests reset it with aseResetState().
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

#include "listing/ASE.h"
#include "listing/ASEFormat.h"
#include "listing/ASEReplyLimiter.h"

struct AseState {
    bool ready = false;
    int socket = -1;
    bool blocking = false;
    int gamePort = 0;
    int queryPort = 0;
    bool announce = false;
    unsigned char packet[8192] = {};
    std::size_t position = 0;  // where the next reply field goes
    std::size_t limit = 0;     // appends that would start past this are dropped
    std::uint32_t fragmentId = 0;
    const char* gameName = "zev";
    AseVerificationTable verification{};
    std::uint32_t verificationSeed = 0x5A455653;  // this project's own seed

    sockaddr_in primary{};
    sockaddr_in secondary{};
    bool hasSecondary = false;
    bool fallback = false;
    AseHeartbeatSchedule heartbeat;
    AseReplyLimiter replies;
    AseCounters counters;
};

AseState& aseState();
// Closes the socket and returns the state to its start values.
void aseResetState();
