// The metrics file: a snapshot of the server's gauges and counters in the Prometheus text
// format, for node_exporter's textfile collector, so that monitoring needs no extra port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/GameSession.h"

struct ServerContext;

struct PortTraffic {
    const char* port = "";
    std::uint64_t bytesRead = 0;
    std::uint64_t datagramsRead = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t datagramsSent = 0;
    std::uint64_t datagramsDropped = 0;  // by the send limit
    std::uint64_t bytesDropped = 0;
};

struct PlayerPing {
    int id = 0;
    std::string nick;
    int ping = 0;  // milliseconds, as the players are told
};

struct MetricsSnapshot {
    bool up = true;
    std::int64_t uptimeSeconds = 0;
    int maxPlayers = 0;
    int adminsConnected = 0;
    std::vector<PlayerPing> players;  // connected game players
    std::vector<PortTraffic> ports;
    SessionCounters session;
    int banEntries = 0;
    std::uint64_t bansByAdmin = 0;
    std::uint64_t bansAutomatic = 0;
    std::uint64_t bansAutomaticSuppressed = 0;
    std::uint64_t banWriteFailures = 0;
    std::uint64_t queryRepliesSent = 0;
    std::uint64_t queryRepliesSuppressed = 0;
};

// The snapshot of a running server. `up` is false for the last snapshot, taken at shutdown.
MetricsSnapshot takeMetricsSnapshot(const ServerContext& context, std::int64_t uptimeSeconds,
                                    bool up);

// The snapshot in the Prometheus text exposition format (version 0.0.4).
std::string renderMetrics(const MetricsSnapshot& snapshot);

// Writes the MetricsFile, if one is configured, by replacing it whole so that a collector never
// reads half a file. A failed write is logged once, until a write succeeds again.
class MetricsFile {
public:
    // Reads the MetricsFile key; absent means off.
    MetricsFile();
    bool isEnabled() const { return !m_path.empty(); }
    void write(const ServerContext& context, std::int64_t uptimeSeconds, bool up);

private:
    std::string m_path;
    bool m_failing = false;
};
