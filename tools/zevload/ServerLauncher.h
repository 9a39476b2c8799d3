// Starts the real server for a run: a temporary directory with a generated configuration (a
// Portland map for 32 players on a free loopback port, its log in the same directory), the
// binary pinned to one CPU, and nothing left behind at the end.
#pragma once

#include <sys/types.h>

#include <string>

namespace zevload {

struct LaunchedServer {
    pid_t pid = -1;
    int port = 0;
    std::string directory;
};

// Starts `binary` pinned to `cpu` (no pinning when negative) and waits until it reports that it
// listens. False on failure, with a message on stderr; nothing is left running then.
bool launchServer(const std::string& binary, int cpu, LaunchedServer* server);

// Stops the server (SIGTERM, then SIGKILL after a grace period) and removes its directory.
void stopServer(LaunchedServer* server);

}  // namespace zevload
