#include "zevadmin/Events.h"

#include <cstdio>

#include "net/ByteReader.h"

namespace zevadmin {

namespace {

constexpr int kNoKiller = 100;
constexpr int kUnnamedKiller = 0xFF;
// The longest entry the server writes for an address ("255.255.255.255|"); a reply this close
// to the server's 1024 bytes may have left entries out.
constexpr std::size_t kLongestAddressEntry = 16;

// The text at the reader's position up to a NUL or the end of the datagram.
std::string readRest(ByteReader& reader) {
    std::string text = textAt(reader.current(), reader.remaining(), 0);
    reader.skip(text.size());
    return text;
}

std::string clockText(int hour, int minute) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d:%02d", hour, minute);
    return text;
}

std::string weatherText(int weather) {
    const char* name = weatherName(weather);
    return name != nullptr ? name : "type " + std::to_string(weather);
}

std::string formatChat(ByteReader& reader, const Roster& roster) {
    int id = reader.u8();
    reader.skip(1);  // the chat type byte
    if (!reader.ok()) return "";
    std::string text = readRest(reader);
    if (text.rfind("/msgr ", 0) == 0) return "private message sent: " + printable(text.substr(6));
    if (text.rfind("/msg ", 0) == 0) {
        std::size_t space = text.find(' ', 5);
        std::string targets = text.substr(5, space == std::string::npos ? space : space - 5);
        std::string message = space == std::string::npos ? "" : text.substr(space + 1);
        return "private " + roster.name(id) + " to " + printable(targets) + ": " +
               printable(message);
    }
    return "chat " + roster.name(id) + ": " + printable(text);
}

std::string formatJoin(ByteReader& reader, Roster& roster) {
    int id = reader.u8();
    if (!reader.ok()) return "";
    std::string nick = readRest(reader);
    reader.skip(1);
    std::string address = reader.ok() ? readRest(reader) : "";
    roster.add(id, nick);
    std::string line = "join: " + roster.name(id);
    if (!address.empty()) line += " from " + printable(address);
    return line;
}

std::string formatLeave(ByteReader& reader, Roster& roster) {
    int reason = reader.u8();
    int id = reader.u8();
    if (!reader.ok()) return "";
    std::string line = "quit: " + roster.name(id) + ", " + leaveReason(reason);
    roster.remove(id);
    return line;
}

std::string formatDeath(ByteReader& reader, const Roster& roster) {
    int victim = reader.u8();
    int killer = reader.u8();
    if (!reader.ok()) return "";
    if (killer == kNoKiller) return "death: " + roster.name(victim) + " died";
    int weapon = reader.u8();
    if (!reader.ok()) return "";
    std::string with = " (weapon " + std::to_string(weapon) + ")";
    if (killer == victim) return "death: " + roster.name(victim) + " killed themself" + with;
    if (killer == kUnnamedKiller) return "death: " + roster.name(victim) + " was killed" + with;
    return "kill: " + roster.name(killer) + " killed " + roster.name(victim) + with;
}

// Lines for the packets made of a code and fixed fields.
std::string formatFixed(unsigned char code, ByteReader& reader, const Roster& roster,
                        const EventOptions& options) {
    std::string line;
    switch (code) {
        case kScore: {
            int id = reader.u8();
            line = "score: " + roster.name(id) + " " + std::to_string(reader.i16());
            break;
        }
        case kPingReport: {
            int id = reader.u8();
            line = "ping: " + roster.name(id) + " " + std::to_string(reader.u16()) + " ms";
            if (!options.showPings) return "";
            break;
        }
        case kResetScores:
            return "scores reset by an admin";
        case kSetTime:
        case kTime: {
            int hour = reader.u8();
            line = std::string(code == kTime ? "time " : "time set by an admin to ") +
                   clockText(hour, reader.u8());
            break;
        }
        case kWeather:
        case kSetWeather:
            line = std::string(code == kWeather ? "weather " : "weather set by an admin to ") +
                   weatherText(reader.u8());
            break;
        case kResetMoney:
            return "money reset by an admin";
        case kMoney: {
            int id = reader.u8();
            line = "money: " + roster.name(id) + " " + std::to_string(reader.i32());
            break;
        }
        case kAddMoney:
            line = "money: an admin added " + std::to_string(reader.i32()) + " for every player";
            break;
        default:
            return "";
    }
    return reader.ok() ? line : "";
}

// Lines for replies that arrive when no command of this session waits for them.
std::string formatReply(unsigned char code, const unsigned char* data, std::size_t size,
                        ByteReader& reader, const Roster& roster) {
    if (code == kBanList) {
        std::string line = "bans:";
        for (const std::string& entry : banListEntries(data, size)) line += " " + entry;
        return line == "bans:" ? "bans: none" : line;
    }
    if (code == kPlayerAddress) {
        int id = reader.u8();
        if (!reader.ok()) return "";
        return "address of " + roster.name(id) + ": " + printable(readRest(reader));
    }
    int result = reader.u8();
    if (!reader.ok()) return "";
    switch (code) {
        case kUnban:
            return unbanSentence(result, "");
        case kShutdown:
            return shutdownSentence(result);
        case kMotdReload:
            return motdReloadSentence(result);
        case kPassword:
            return passwordSentence(result);
        case kBanAddress:
            return banAddressSentence(result, "");
        case kMotdSave:
            return motdSaveSentence(result);
        default:
            return "";
    }
}

}  // namespace

void Roster::reset(const std::vector<PlayerEntry>& players) {
    m_nicks.clear();
    for (const PlayerEntry& player : players) m_nicks[player.id] = player.nick;
}

void Roster::add(int id, const std::string& nick) { m_nicks[id] = nick; }

void Roster::remove(int id) { m_nicks.erase(id); }

std::string Roster::name(int id) const {
    auto it = m_nicks.find(id);
    // Appended rather than `"#" + std::to_string(id)`, which GCC 12 at -O3 warns about falsely.
    std::string number = "#";
    number.append(std::to_string(id));
    return it == m_nicks.end() ? number : printable(it->second) + " (" + number + ")";
}

std::string formatEvent(const unsigned char* data, std::size_t size, Roster& roster,
                        const EventOptions& options) {
    ByteReader reader(data, size);
    unsigned char code = reader.u8();
    if (!reader.ok()) return "";
    switch (code) {
        case kChat:
            return formatChat(reader, roster);
        case kPlayerJoined:
            return formatJoin(reader, roster);
        case kPlayerLeft:
            return formatLeave(reader, roster);
        case kDeath:
            return formatDeath(reader, roster);
        case kUnban:
        case kBanList:
        case kShutdown:
        case kMotdReload:
        case kPassword:
        case kBanAddress:
        case kPlayerAddress:
        case kMotdSave:
            return formatReply(code, data, size, reader, roster);
        default:
            return formatFixed(code, reader, roster, options);
    }
}

std::vector<std::string> formatLogin(const LoginInfo& info, const std::string& nick, int level) {
    std::vector<std::string> lines;
    lines.push_back("logged in to '" + printable(info.serverName) + "' as " + printable(nick) +
                    " (admin id " + std::to_string(info.adminId) + ", level " +
                    std::to_string(level) + ")");
    const char* map = mapName(info.mapNumber);
    lines.push_back("map " + (map != nullptr ? std::string(map) : std::to_string(info.mapNumber)) +
                    ", game mode " + std::to_string(info.gameMode) + ", time " +
                    clockText(info.hour, info.minute) + ", weather " + weatherText(info.weather) +
                    ", " + std::to_string(info.players.size()) + " of " +
                    std::to_string(info.maxPlayers) + " players");
    for (const PlayerEntry& player : info.players) {
        std::string line = "player " + printable(player.nick) + " (#" + std::to_string(player.id) +
                           "): score " + std::to_string(player.score);
        if (player.hasMoney) line += ", money " + std::to_string(player.money);
        lines.push_back(line);
    }
    return lines;
}

std::string unbanSentence(int result, const std::string& entry) {
    std::string quoted = entry.empty() ? "" : " '" + printable(entry) + "'";
    if (result == 1) return "unbanned" + quoted;
    return "no ban-list entry reads exactly" + (quoted.empty() ? " that" : quoted) +
           " (entries must be given as the ban list shows them)";
}

std::string banAddressSentence(int result, const std::string& address) {
    std::string quoted = address.empty() ? "" : " '" + printable(address) + "'";
    if (result == 1) return "banned" + quoted;
    return "the server refused to ban" + quoted + ": an address needs at least 7 digits and dots";
}

std::string shutdownSentence(int result) {
    switch (result) {
        case 1:
            return "shutdown armed: a second request within 4 seconds stops the server";
        case 2:
            return "shutdown request too late after the first; armed again";
        case 3:
            return "the server is shutting down";
        case 4:
            return "remote shutdown is disabled on the server (AdminAllowShutdown)";
        default:
            return "unknown shutdown answer " + std::to_string(result);
    }
}

std::string motdReloadSentence(int result) {
    return result == 1 ? "message of the day reloaded" : "the server could not open motd.txt";
}

std::string motdSaveSentence(int result) {
    return result == 1 ? "motd.txt saved" : "the server could not write motd.txt";
}

std::string passwordSentence(int result) {
    return result == 1 ? "server password changed"
                       : "the server kept its password (ServerPassword is not in its "
                         "configuration)";
}

std::vector<std::string> banListEntries(const unsigned char* data, std::size_t size) {
    std::vector<std::string> entries;
    std::string entry;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] != '|') {
            entry.push_back(static_cast<char>(data[i]));
            continue;
        }
        entries.push_back(printable(entry));
        entry.clear();
    }
    if (!entry.empty()) entries.push_back(printable(entry));
    return entries;
}

bool banListMayBeCut(std::size_t size) { return size + kLongestAddressEntry > kMaxDatagram; }

}  // namespace zevadmin
