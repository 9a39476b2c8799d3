// The metrics text: what a Prometheus collector parses, so label escaping and the reason series
// matter more than the layout.
#include <gtest/gtest.h>

#include <string>

#include "core/Metrics.h"

namespace {

bool hasLine(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos || text.rfind(line + "\n", 0) == 0;
}

}  // namespace

TEST(Metrics, RendersGaugesCountersAndEveryNamedReason) {
    MetricsSnapshot snapshot;
    snapshot.uptimeSeconds = 75;
    snapshot.maxPlayers = 32;
    snapshot.players = {{0, "Ann", 40}, {3, "Bo", 1000}};
    PortTraffic game;
    game.port = "game";
    game.bytesRead = 1234;
    game.datagramsDropped = 2;
    snapshot.ports = {game};
    snapshot.session.joinsAccepted = 5;
    snapshot.session.joinsRefused[12] = 3;   // join flood
    snapshot.session.joinsRefused[99] = 2;   // a byte without a name
    snapshot.session.playersRemoved[2] = 1;  // timeout
    snapshot.bansAutomatic = 4;
    snapshot.queryRepliesSuppressed = 7;

    std::string text = renderMetrics(snapshot);
    for (const char* line : {
             "zevserver_up 1",
             "zevserver_uptime_seconds 75",
             "zevserver_players_connected 2",
             "zevserver_players_max 32",
             "zevserver_player_ping_seconds{id=\"3\",nick=\"Bo\"} 1.000",
             "zevserver_received_bytes_total{port=\"game\"} 1234",
             "zevserver_send_limit_dropped_datagrams_total{port=\"game\"} 2",
             "zevserver_joins_total 5",
             "zevserver_joins_refused_total{reason=\"join_flood\"} 3",
             "zevserver_joins_refused_total{reason=\"banned\"} 0",
             "zevserver_joins_refused_total{reason=\"code_99\"} 2",
             "zevserver_players_removed_total{reason=\"timeout\"} 1",
             "zevserver_players_removed_total{reason=\"quit\"} 0",
             "zevserver_admin_logins_refused_total{reason=\"wrong_password\"} 0",
             "zevserver_bans_added_total{by=\"automatic\"} 4",
             "zevserver_query_replies_total{result=\"suppressed\"} 7",
             "# TYPE zevserver_joins_refused_total counter",
             "# TYPE zevserver_players_connected gauge",
         }) {
        EXPECT_TRUE(hasLine(text, line)) << line << "\n" << text;
    }
    EXPECT_EQ(text.find("code_0\""), std::string::npos);

    snapshot.up = false;
    EXPECT_TRUE(hasLine(renderMetrics(snapshot), "zevserver_up 0"));
}

TEST(Metrics, NicksAreEscapedIntoValidLabelValues) {
    MetricsSnapshot snapshot;
    snapshot.players = {{1, "a\"b\\c\nd\x01", 5}};
    std::string text = renderMetrics(snapshot);
    EXPECT_TRUE(hasLine(
        text, "zevserver_player_ping_seconds{id=\"1\",nick=\"a\\\"b\\\\c\\\\x0Ad\\\\x01\"} 0.005"))
        << text;
}
