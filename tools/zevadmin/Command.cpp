#include "zevadmin/Command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "net/ByteWriter.h"

namespace zevadmin {

const char* const kCommandHelp =
    "commands:\n"
    "  kick ID            remove player ID (a number, or #ID) from the game\n"
    "  ban ID             remove player ID and ban its address\n"
    "  ip ID              print the address of player ID\n"
    "  bans               print the ban list, one entry a line\n"
    "  ban-ip ADDRESS     ban ADDRESS, digits and dots; an octet 0 matches any (10.0.0.0)\n"
    "  unban ENTRY        remove the ban-list entry written exactly as ENTRY\n"
    "  say TEXT           chat to every player and admin (/me and /slap work too)\n"
    "  msg TO TEXT        private message; TO is up to three nicks or #IDs joined by commas\n"
    "  time HOUR MINUTE   set the game time (HOUR:MINUTE works too)\n"
    "  weather W          set the weather: sun, cloud, rain, fog, or 0 to 3\n"
    "  password [NEW]     change the server's join password (asked for when NEW is left out)\n"
    "  motd-reload        reload motd.txt on the server\n"
    "  motd-save FILE     replace the server's motd.txt with FILE and reload it\n"
    "  reset-scores       set every player's score to 0\n"
    "  reset-money        reset every player's money\n"
    "  add-money N        add N (negative to take) to every player's money\n"
    "  shutdown           stop the server (sends the second request the server asks for)\n"
    "interactive only:\n"
    "  pings on|off       show or hide the players' ping reports (shown at first)\n"
    "  help               this list\n"
    "  quit               log out and leave; so does the end of the input\n"
    "\n"
    "A command succeeds when the server answers it or announces its effect. The server does\n"
    "not answer kick, ban, ip, say, msg, time, weather, the resets and add-money when they have\n"
    "no effect, so each is followed by a ban-list request: when that answer comes first, an\n"
    "unknown player id fails the command, and a weather change on a server with random\n"
    "weather off, which the server stores without announcing it, counts as done.\n";

namespace {

// The chat type byte of an ordinary line; the server passes it on to the clients.
constexpr unsigned char kChatType = 0;
constexpr std::size_t kMaxChatText = 126;
constexpr std::size_t kMaxTargets = 3;
constexpr std::size_t kMaxTarget = 12;
constexpr std::size_t kMaxPassword = 32;
constexpr std::size_t kMaxBanAddress = 20;
constexpr std::size_t kMaxUnban = 31;
// The server cuts the message of the day it sends to players at 998 characters, and drops the
// file's last byte (its line end) when it loads it.
constexpr std::size_t kMaxMotd = 999;
// The server skips a 4-byte field before the text of motd-save.
constexpr std::size_t kMotdFieldBeforeText = 4;

bool toLong(const std::string& text, long low, long high, long* out) {
    if (text.empty() || text[0] == ' ' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

bool isPrintable(const std::string& text) {
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string joinWords(const std::vector<std::string>& words, std::size_t from) {
    std::string out;
    for (std::size_t i = from; i < words.size(); ++i) {
        if (i > from) out += ' ';
        out += words[i];
    }
    return out;
}

// [code, head, text, NUL]; the callers have bounded the text to fit.
Bytes withText(unsigned char code, const Bytes& head, const std::string& text) {
    unsigned char buffer[kMaxDatagram];
    ByteWriter writer(buffer, sizeof(buffer));
    writer.u8(code);
    writer.bytes(head.data(), head.size());
    writer.bytes(text.data(), text.size());
    writer.u8(0);
    return Bytes(buffer, buffer + writer.size());
}

Bytes chatLine(const std::string& text) { return withText(kChat, {kChatType}, text); }

bool parsePlayerId(const std::string& word, Command* command, std::string* error) {
    long id = 0;
    if (!toLong(word[0] == '#' ? word.substr(1) : word, 0, 127, &id)) {
        *error = "a player id is a number from 0 to 127, not '" + printable(word) + "'";
        return false;
    }
    command->playerId = static_cast<int>(id);
    command->datagram.push_back(static_cast<unsigned char>(id));
    return true;
}

bool parseTime(const std::vector<std::string>& args, Command* command, std::string* error) {
    std::string hour = args[0];
    std::string minute;
    std::size_t colon = hour.find(':');
    if (args.size() == 1 && colon != std::string::npos) {
        minute = hour.substr(colon + 1);
        hour.resize(colon);
    } else if (args.size() == 2) {
        minute = args[1];
    }
    long h = 0;
    long m = 0;
    if (!toLong(hour, 0, 23, &h) || !toLong(minute, 0, 59, &m)) {
        *error = "the time is HOUR MINUTE, 0 to 23 and 0 to 59";
        return false;
    }
    command->hour = static_cast<int>(h);
    command->minute = static_cast<int>(m);
    command->datagram = {kSetTime, static_cast<unsigned char>(h), static_cast<unsigned char>(m)};
    return true;
}

bool checkChat(const std::string& text, std::string* error) {
    if (text.empty() || !isPrintable(text)) {
        *error = "chat is one or more printable ASCII characters";
    } else if (text.size() > kMaxChatText) {
        *error = "chat is at most " + std::to_string(kMaxChatText) + " characters";
    } else {
        return true;
    }
    return false;
}

bool parseSay(const std::string& text, Command* command, std::string* error) {
    if (!checkChat(text, error)) return false;
    if (startsWith(text, "/msg ")) {
        *error = "use msg TO TEXT for a private message";
        return false;
    }
    if (startsWith(text, "/") && !startsWith(text, "/me ") && !startsWith(text, "/slap ")) {
        *error = "the server drops chat that starts with / (but /me and /slap)";
        return false;
    }
    command->text = text;
    command->datagram = chatLine(text);
    return true;
}

bool checkTargets(const std::string& targets, std::string* error) {
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = targets.find(',', start);
        std::size_t end = comma == std::string::npos ? targets.size() : comma;
        if (end == start || end - start > kMaxTarget || ++count > kMaxTargets) {
            *error = "TO is one to three nicks or #IDs joined by commas, each at most 12 long";
            return false;
        }
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool parseMsg(const std::vector<std::string>& args, Command* command, std::string* error) {
    std::string message = joinWords(args, 1);
    std::string line = "/msg " + args[0] + " " + message;
    if (!checkTargets(args[0], error) || !checkChat(message, error) || !checkChat(line, error)) {
        return false;
    }
    // The server answers the sender with the message behind "/msgr ".
    command->text = "/msgr " + message;
    command->datagram = chatLine(line);
    return true;
}

bool parseBanAddress(const std::string& address, Command* command, std::string* error) {
    if (address.size() > kMaxBanAddress ||
        address.find_first_not_of("0123456789.") != std::string::npos) {
        *error = "an address to ban is digits and dots, like 1.2.3.4 or 10.0.0.0";
        return false;
    }
    command->text = address;
    command->datagram = withText(kBanAddress, {}, address);
    return true;
}

bool parseUnban(const std::string& entry, Command* command, std::string* error) {
    if (entry.size() > kMaxUnban || !isPrintable(entry)) {
        *error = "a ban-list entry is at most 31 printable characters";
        return false;
    }
    command->text = entry;
    command->datagram = withText(kUnban, {}, entry);
    return true;
}

bool parseAmount(const std::string& word, Command* command, std::string* error) {
    long amount = 0;
    if (!toLong(word, INT32_MIN, INT32_MAX, &amount)) {
        *error = "the amount is a whole number from -2147483648 to 2147483647";
        return false;
    }
    command->amount = static_cast<std::int32_t>(amount);
    unsigned char buffer[5];
    ByteWriter writer(buffer, sizeof(buffer));
    writer.u8(kAddMoney);
    writer.i32(command->amount);
    command->datagram.assign(buffer, buffer + writer.size());
    return true;
}

struct CommandShape {
    const char* name;
    CommandKind kind;
    std::size_t minArgs;
    std::size_t maxArgs;
    unsigned char code;  // the datagram of a command without arguments
};

constexpr std::size_t kRest = 1000;

const CommandShape kCommandShapes[] = {
    {"kick", CommandKind::Kick, 1, 1, kKick},
    {"ban", CommandKind::Ban, 1, 1, kBan},
    {"ip", CommandKind::Ip, 1, 1, kPlayerAddress},
    {"bans", CommandKind::Bans, 0, 0, kBanList},
    {"ban-ip", CommandKind::BanIp, 1, 1, kBanAddress},
    {"unban", CommandKind::Unban, 1, 1, kUnban},
    {"say", CommandKind::Say, 1, kRest, kChat},
    {"msg", CommandKind::Msg, 2, kRest, kChat},
    {"time", CommandKind::Time, 1, 2, kSetTime},
    {"weather", CommandKind::Weather, 1, 1, kSetWeather},
    {"password", CommandKind::Password, 0, 1, kPassword},
    {"motd-reload", CommandKind::MotdReload, 0, 0, kMotdReload},
    {"motd-save", CommandKind::MotdSave, 1, 1, kMotdSave},
    {"reset-scores", CommandKind::ResetScores, 0, 0, kResetScores},
    {"reset-money", CommandKind::ResetMoney, 0, 0, kResetMoney},
    {"add-money", CommandKind::AddMoney, 1, 1, kAddMoney},
    {"shutdown", CommandKind::Shutdown, 0, 0, kShutdown},
};

bool parseArguments(const std::vector<std::string>& args, Command* command, std::string* error) {
    switch (command->kind) {
        case CommandKind::Kick:
        case CommandKind::Ban:
        case CommandKind::Ip:
            return parsePlayerId(args[0], command, error);
        case CommandKind::BanIp:
            return parseBanAddress(args[0], command, error);
        case CommandKind::Unban:
            return parseUnban(args[0], command, error);
        case CommandKind::Say:
            return parseSay(joinWords(args, 0), command, error);
        case CommandKind::Msg:
            return parseMsg(args, command, error);
        case CommandKind::Time:
            return parseTime(args, command, error);
        case CommandKind::Weather:
            command->weather = parseWeather(args[0]);
            if (command->weather < 0) {
                *error = "the weather is sun, cloud, rain, fog or 0 to 3";
                return false;
            }
            command->datagram.push_back(static_cast<unsigned char>(command->weather));
            return true;
        case CommandKind::Password:
            // The line is echoed with every outcome, on screens and into cron mail and logs.
            if (!args.empty()) command->line = "password ****";
            command->datagram.clear();
            return args.empty() || encodePassword(args[0], &command->datagram, error);
        case CommandKind::MotdSave:
            command->datagram.clear();
            command->text = args[0];
            return true;
        case CommandKind::AddMoney:
            return parseAmount(args[0], command, error);
        default:
            return true;
    }
}

}  // namespace

bool parseCommand(const std::vector<std::string>& words, Command* command, std::string* error) {
    if (words.empty()) {
        *error = "no command";
        return false;
    }
    for (const CommandShape& shape : kCommandShapes) {
        if (words[0] != shape.name) continue;
        std::vector<std::string> args(words.begin() + 1, words.end());
        if (args.size() < shape.minArgs || args.size() > shape.maxArgs) {
            *error = std::string("wrong number of arguments for ") + shape.name + " (see help)";
            return false;
        }
        *command = Command{};
        command->kind = shape.kind;
        command->line = joinWords(words, 0);
        command->datagram = {shape.code};
        return parseArguments(args, command, error);
    }
    *error = "unknown command '" + printable(words[0]) + "' (see help)";
    return false;
}

bool encodePassword(const std::string& password, Bytes* datagram, std::string* error) {
    if (password.empty() || password.size() > kMaxPassword ||
        password.find('\0') != std::string::npos) {
        *error = "the server password is 1 to 32 characters";
        return false;
    }
    *datagram = withText(kPassword, {}, password);
    return true;
}

bool encodeMotdSave(const std::string& text, Bytes* datagram, std::string* error) {
    std::string body = text;
    if (body.empty() || body.back() != '\n') body.push_back('\n');
    if (body.find('\0') != std::string::npos) {
        *error = "the message of the day cannot hold a NUL byte";
        return false;
    }
    if (body.size() > kMaxMotd) {
        *error = "the message of the day is at most " + std::to_string(kMaxMotd - 1) +
                 " characters and its line end";
        return false;
    }
    *datagram = withText(kMotdSave, Bytes(kMotdFieldBeforeText, 0), body);
    return true;
}

}  // namespace zevadmin
