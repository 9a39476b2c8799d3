// The whole life of the server process: start-up, the main loop and shutdown.
#pragma once

#include <cstdint>
#include <memory>

#include "core/Keyboard.h"
#include "core/Metrics.h"
#include "listing/ASE.h"

class AdminServer;
class GameSession;
class Server;

// What main keeps between start-up, the loop and shutdown.
struct ServerContext {
    Keyboard* keyboard = nullptr;
    Server* server = nullptr;
    AdminServer* adminServer = nullptr;
    GameSession* session = nullptr;
    std::unique_ptr<ASE> listingResponder;
    std::unique_ptr<MetricsFile> metrics;
    std::int64_t startedAt = 0;  // monotonic seconds
    int chatFloodMaxCount = 2;
    bool adminEnabled = false;
    bool background = false;
};

// Runs the server with the process arguments and returns the exit status (0 on every path that
// returns; background mode may end the process with 0, 3 or 4 itself).
int runServer(int argc, const char* const* argv);

// Runs turns until a stop condition holds at the top of one.
void runMainLoop(ServerContext& context);

// Replaces the metrics file, when one is configured; `up` is false for the last report.
void writeMetrics(const ServerContext& context, bool up);

// The most datagrams one port is drained of in a turn, so a flood on one port cannot starve the
// other ports or the periodic tasks.
constexpr int kMaxDatagramsPerTurn = 256;
