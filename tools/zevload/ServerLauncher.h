// Starts the real server for a run: a temporary directory with a generated configuration (a
// Portland map for 32 players on a free loopback port, its log in the same directory), the
// binary pinned to one CPU, and nothing left behind at the end unless asked.
#pragma once

#include <sys/types.h>

#include <string>

namespace zevload {

struct LaunchSetup {
    std::string binary;
    // No pinning when negative.
    int cpu = -1;
    // Lines added after the generated configuration; give only keys that it does not set.
    std::string extraConfiguration;
    // The content of the ban file "banned.txt" in the working directory.
    std::string banFile;
    // Also keep the listing's query port (the game port + 123) free, so that the server does
    // not move it.
    bool queryPort = false;
    // Start it with -b: it detaches, and SIGTERM stops it through its full shutdown. This
    // process becomes the subreaper that adopts the detached server, so it can still wait for
    // it and read its exit status.
    bool background = false;
};

struct LaunchedServer {
    // The process that serves (in background mode, the detached one).
    pid_t pid = -1;
    int port = 0;
    // The server's working directory: configuration, log, ban file, console output.
    std::string directory;
};

// A port on 127.0.0.1 that was free a moment ago; 0 when none could be found.
int pickFreePort();

// Starts the server and waits until it reports that it listens. False on failure, with a message
// on stderr; nothing is left running then.
bool launchServer(const LaunchSetup& setup, LaunchedServer* server);
bool launchServer(const std::string& binary, int cpu, LaunchedServer* server);

// Sends SIGTERM and waits up to `timeoutMs` for the server to end; SIGKILL after that. `status`
// gets the waitpid status. True when it ended by itself. The directory stays.
bool terminateServer(LaunchedServer* server, int timeoutMs, int* status);

// Stops the server (SIGTERM, then SIGKILL after a grace period) and removes its directory.
void stopServer(LaunchedServer* server);

}  // namespace zevload
