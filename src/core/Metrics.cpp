#include "core/Metrics.h"

#include "admin/Ban.h"
#include "core/AtomicFile.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "core/ServerMain.h"
#include "net/AdminServer.h"
#include "net/Server.h"

namespace {

struct ReasonName {
    int reason;
    const char* name;
};

// The reason bytes of the refusal [6, reason] to a joining player.
const ReasonName kJoinRefusals[] = {
    {0, "nick_in_use"},       {1, "banned"},         {2, "already_joined"},
    {4, "wrong_password"},    {6, "wrong_version"},  {7, "server_full"},
    {8, "wrong_check_value"}, {10, "reserved_nick"}, {12, "join_flood"},
};

// The reason bytes of the notice [9, reason, id] to the other players.
const ReasonName kRemovals[] = {
    {0, "quit"},    {1, "admin"},           {2, "timeout"},      {3, "chat_flood"},
    {4, "trainer"}, {5, "client_mismatch"}, {6, "client_check"},
};

// The reason bytes of the refusal [6, reason] to an admin login.
const ReasonName kAdminRefusals[] = {
    {0, "nick_in_use"},    {1, "banned"},    {2, "already_logged_in"},
    {4, "wrong_password"}, {6, "malformed"}, {11, "admin_plus_disabled"},
};

class Writer {
public:
    void family(const char* name, const char* type, const char* help) {
        m_text += std::string("# HELP ") + name + " " + help + "\n";
        m_text += std::string("# TYPE ") + name + " " + type + "\n";
    }
    void sample(const char* name, const std::string& labels, std::uint64_t value) {
        sampleText(name, labels, std::to_string(value));
    }
    void sampleText(const char* name, const std::string& labels, const std::string& value) {
        m_text += name;
        if (!labels.empty()) m_text += "{" + labels + "}";
        m_text += " " + value + "\n";
    }
    void gauge(const char* name, const char* help, std::uint64_t value) {
        family(name, "gauge", help);
        sample(name, "", value);
    }
    void counter(const char* name, const char* help, std::uint64_t value) {
        family(name, "counter", help);
        sample(name, "", value);
    }
    // Every named reason appears, at 0 until it happens, so that rates work from the start; a
    // reason byte without a name still shows up under its number.
    template <std::size_t N>
    void byReason(const char* name, const char* help, const ReasonName (&names)[N],
                  const std::uint64_t (&counts)[256]) {
        family(name, "counter", help);
        bool named[256] = {};
        for (const ReasonName& reason : names) {
            named[reason.reason] = true;
            sample(name, std::string("reason=\"") + reason.name + "\"", counts[reason.reason]);
        }
        for (int reason = 0; reason < 256; ++reason) {
            if (named[reason] || counts[reason] == 0) continue;
            sample(name, "reason=\"code_" + std::to_string(reason) + "\"", counts[reason]);
        }
    }
    std::string take() { return std::move(m_text); }

private:
    std::string m_text;
};

// A label value: printable ASCII with the three escapes of the text format.
std::string labelValue(const std::string& text) {
    std::string escaped;
    for (char c : Log::printable(text)) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string millisecondsAsSeconds(int milliseconds) {
    std::string fraction = std::to_string(1000 + milliseconds % 1000).substr(1);
    return std::to_string(milliseconds / 1000) + "." + fraction;
}

void writePorts(Writer& out, const std::vector<PortTraffic>& ports) {
    struct Field {
        const char* name;
        const char* help;
        std::uint64_t PortTraffic::*member;
    };
    const Field fields[] = {
        {"zevserver_received_bytes_total", "Bytes received, per port.", &PortTraffic::bytesRead},
        {"zevserver_received_datagrams_total", "Datagrams received, per port.",
         &PortTraffic::datagramsRead},
        {"zevserver_sent_bytes_total", "Bytes sent, per port.", &PortTraffic::bytesSent},
        {"zevserver_sent_datagrams_total", "Datagrams sent, per port.",
         &PortTraffic::datagramsSent},
        {"zevserver_send_limit_dropped_datagrams_total",
         "Datagrams not sent because the send limit was reached, per port.",
         &PortTraffic::datagramsDropped},
        {"zevserver_send_limit_dropped_bytes_total",
         "Bytes not sent because the send limit was reached, per port.",
         &PortTraffic::bytesDropped},
    };
    for (const Field& field : fields) {
        out.family(field.name, "counter", field.help);
        for (const PortTraffic& port : ports) {
            out.sample(field.name, std::string("port=\"") + port.port + "\"", port.*field.member);
        }
    }
}

PortTraffic trafficOf(const char* name, const ServerInterface& endpoint) {
    PortTraffic traffic;
    traffic.port = name;
    traffic.bytesRead = static_cast<std::uint64_t>(endpoint.getBytesRead());
    traffic.datagramsRead = endpoint.getDatagramsRead();
    traffic.bytesSent = static_cast<std::uint64_t>(endpoint.getBytesSent());
    traffic.datagramsSent = endpoint.getDatagramsSent();
    traffic.datagramsDropped = endpoint.getDatagramsDropped();
    traffic.bytesDropped = static_cast<std::uint64_t>(endpoint.getBytesDropped());
    return traffic;
}

}  // namespace

MetricsSnapshot takeMetricsSnapshot(const ServerContext& context, std::int64_t uptimeSeconds,
                                    bool up) {
    MetricsSnapshot snapshot;
    snapshot.up = up;
    snapshot.uptimeSeconds = uptimeSeconds;
    if (context.session != nullptr) {
        const GameSession& session = *context.session;
        snapshot.maxPlayers = session.getMaxPlayers();
        snapshot.session = session.getCounters();
        for (const auto& [id, player] : session.getPlayers().getPlayerMap()) {
            if (!player.connected) continue;
            snapshot.players.push_back({id, player.nick, player.reportedPing()});
        }
        for (const auto& entry : context.session->getAdminList().getPlayerMap()) {
            if (entry.second.connected) ++snapshot.adminsConnected;
        }
    }
    if (context.server != nullptr) snapshot.ports.push_back(trafficOf("game", *context.server));
    if (context.adminServer != nullptr && context.adminServer->isListening()) {
        snapshot.ports.push_back(trafficOf("admin", *context.adminServer));
    }
    if (context.listingResponder != nullptr) {
        AseCounters query = context.listingResponder->getCounters();
        PortTraffic traffic;
        traffic.port = "query";
        traffic.bytesRead = query.bytesRead;
        traffic.datagramsRead = query.datagramsRead;
        traffic.bytesSent = query.bytesSent;
        traffic.datagramsSent = query.datagramsSent;
        snapshot.ports.push_back(traffic);
        snapshot.queryRepliesSent = query.repliesSent;
        snapshot.queryRepliesSuppressed = query.repliesSuppressed;
    }
    const Ban* bans = Ban::getInstance();
    snapshot.banEntries = bans->getEntryCount();
    snapshot.bansAutomatic = bans->getAutomaticBansAdded();
    snapshot.bansByAdmin = bans->getBansAdded() - snapshot.bansAutomatic;
    snapshot.bansAutomaticSuppressed = bans->getAutomaticBansSuppressed();
    snapshot.banWriteFailures = bans->getFailedWrites();
    return snapshot;
}

std::string renderMetrics(const MetricsSnapshot& snapshot) {
    Writer out;
    out.gauge("zevserver_up", "1 while the server runs; 0 in the last report, at shutdown.",
              snapshot.up ? 1 : 0);
    out.gauge("zevserver_uptime_seconds", "Seconds since the server started.",
              static_cast<std::uint64_t>(snapshot.uptimeSeconds));
    out.gauge("zevserver_players_connected", "Game players connected.", snapshot.players.size());
    out.gauge("zevserver_players_max", "Player slots (MaxPlayers).",
              static_cast<std::uint64_t>(snapshot.maxPlayers));
    out.gauge("zevserver_admins_connected", "Admin connections logged in.",
              static_cast<std::uint64_t>(snapshot.adminsConnected));
    out.family("zevserver_player_ping_seconds", "gauge",
               "The last ping reported for each connected player.");
    for (const PlayerPing& player : snapshot.players) {
        out.sampleText(
            "zevserver_player_ping_seconds",
            "id=\"" + std::to_string(player.id) + "\",nick=\"" + labelValue(player.nick) + "\"",
            millisecondsAsSeconds(player.ping));
    }
    writePorts(out, snapshot.ports);
    out.counter("zevserver_joins_total", "Players that joined.", snapshot.session.joinsAccepted);
    out.byReason("zevserver_joins_refused_total", "Join requests refused, by reason.",
                 kJoinRefusals, snapshot.session.joinsRefused);
    out.sample("zevserver_joins_refused_total", "reason=\"no_nick\"",
               snapshot.session.joinsRefusedWithoutNick);
    out.byReason("zevserver_players_removed_total", "Players that left, by reason.", kRemovals,
                 snapshot.session.playersRemoved);
    out.byReason("zevserver_admin_logins_refused_total", "Admin logins refused, by reason.",
                 kAdminRefusals, snapshot.session.adminLoginsRefused);
    out.counter("zevserver_password_checks_dropped_total",
                "Password attempts dropped unanswered beyond the rate of password checks.",
                snapshot.session.passwordChecksDropped);
    out.gauge("zevserver_ban_entries", "Entries in the ban list.",
              static_cast<std::uint64_t>(snapshot.banEntries));
    out.family("zevserver_bans_added_total", "counter", "Bans added, by who added them.");
    out.sample("zevserver_bans_added_total", "by=\"admin\"", snapshot.bansByAdmin);
    out.sample("zevserver_bans_added_total", "by=\"automatic\"", snapshot.bansAutomatic);
    out.counter("zevserver_automatic_bans_suppressed_total",
                "Automatic bans not added because of their rate or total limit.",
                snapshot.bansAutomaticSuppressed);
    out.counter("zevserver_ban_file_write_failures_total",
                "Times the ban file could not be replaced.", snapshot.banWriteFailures);
    out.family("zevserver_query_replies_total", "counter",
               "Server-browser queries answered, and left unanswered by the reply limits.");
    out.sample("zevserver_query_replies_total", "result=\"sent\"", snapshot.queryRepliesSent);
    out.sample("zevserver_query_replies_total", "result=\"suppressed\"",
               snapshot.queryRepliesSuppressed);
    return out.take();
}

MetricsFile::MetricsFile() {
    Conf* conf = Conf::getInstance();
    if (conf->getConfEntryValueCount("MetricsFile") >= 1) {
        m_path = conf->getConfEntryValue("MetricsFile");
    }
}

void MetricsFile::write(const ServerContext& context, std::int64_t uptimeSeconds, bool up) {
    if (m_path.empty()) return;
    std::string text = renderMetrics(takeMetricsSnapshot(context, uptimeSeconds, up));
    if (replaceFileAtomically(m_path, text, false)) {
        m_failing = false;
        return;
    }
    if (m_failing) return;
    m_failing = true;
    Log::getInstance()->writeToLog(
        "ERROR: Unable to write the metrics file '" + Log::printable(m_path) + "'.", true, true);
}
