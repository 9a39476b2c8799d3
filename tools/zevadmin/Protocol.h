// The admin protocol as the client sees it: the login request, the admin form of the join reply,
// and the names behind the numbers the server sends. Pure functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zevadmin {

using Bytes = std::vector<unsigned char>;

// Datagram codes of the admin port, both directions.
enum Code : unsigned char {
    kJoinReply = 1,
    kQuit = 2,
    kChat = 3,
    kPing = 4,
    kKeepAlive = 5,
    kRefused = 6,
    kPlayerJoined = 8,
    kPlayerLeft = 9,
    kPlayerState = 10,
    kDeath = 11,
    kScore = 12,
    kLogin = 13,
    kKick = 14,
    kBan = 15,
    kUnban = 16,
    kBanList = 17,
    kShutdown = 18,
    kPingReport = 22,
    kMotdReload = 26,
    kPassword = 27,
    kBanAddress = 28,
    kPlayerAddress = 29,
    kResetScores = 30,
    kSetTime = 31,
    kTime = 32,
    kWeather = 33,
    kResetMoney = 34,
    kSetWeather = 35,
    kMoney = 36,
    kAddMoney = 38,
    kMotdSave = 40,
};

// The server reads at most this many bytes of an admin datagram.
constexpr std::size_t kMaxDatagram = 1024;
constexpr std::size_t kMaxNick = 13;

// [13, "0", level, nick, "|", password, NUL]. Empty when it would not fit one datagram.
Bytes encodeLogin(int level, const std::string& nick, const std::string& password);

struct PlayerEntry {
    int id = 0;
    int score = 0;
    std::int32_t money = 0;
    bool hasMoney = false;  // only Liberty City maps carry money
    std::string nick;
};

// What the admin form of the join reply tells a new admin.
struct LoginInfo {
    int adminId = -1;
    int clientType = 0;
    int mapNumber = 0;
    int gameMode = 0;
    int maxPlayers = 0;
    int hour = 0;
    int minute = 0;
    int weather = 0;
    std::string serverName;
    std::string motdUrl;
    std::vector<PlayerEntry> players;
};

// Reads [1, ...] as the server sends it to admins (no key; name, URL, then the players up to
// the end). False when the datagram is not one or is cut inside its fixed part; a player entry
// cut at the end is left out.
bool decodeLoginReply(const unsigned char* data, std::size_t size, LoginInfo* info);

// The sentence for the refusal [6, reason] of a login; `reason` -1 for the bare [6].
std::string refusalSentence(int reason, const std::string& nick);

// "Sun", "Cloud", "Rain", "Fog"; nullptr outside 0 to 3.
const char* weatherName(int weather);
// Reads a weather name in any case (also "sunny", "cloudy", "rainy", "foggy") or 0 to 3;
// -1 when it is neither.
int parseWeather(const std::string& text);
// "Liberty City : Portland" and so on; nullptr outside 1 to 5.
const char* mapName(int mapNumber);
// Why a player left, from the reason byte of [9, reason, id].
std::string leaveReason(int reason);
// The text from byte `from` of a datagram up to a NUL or its end; empty when `from` is past it.
std::string textAt(const unsigned char* data, std::size_t size, std::size_t from);
// `text` with every byte outside printable ASCII written as \xNN, so that a nick or chat line
// cannot move the cursor or start a line of its own on the operator's terminal.
std::string printable(const std::string& text);

}  // namespace zevadmin
