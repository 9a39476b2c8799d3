// The datagrams of the soak beyond the load generator's (LoadProtocol.h): gameplay reports, the
// admin's requests, and the three answers the final state is read from (the join reply an admin
// gets, the status query reply, the ban-list reply). Builders write into caller buffers and
// return the length, 0 when it does not fit; parsers read with ByteReader and return false on
// anything malformed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zevload {

// Game datagrams (sealed by the caller).
int buildChat(unsigned char* out, int capacity, const std::string& text);  // [3, 0, text, NUL]
int buildDeath(unsigned char* out, int capacity, int killerId, int weapon);
int buildDeathPosition(unsigned char* out, int capacity, float x, float y);
int buildMoney(unsigned char* out, int capacity, std::int32_t money);
int buildSkin(unsigned char* out, int capacity, int skin);
int buildSkinQuery(unsigned char* out, int capacity, int id);

// The killer byte of a death report that names nobody.
constexpr int kNoKillerId = 100;

// Admin datagrams (plain): [13, '0', level, nick, '|', password, NUL], and [code, text, NUL]
// for the requests that carry one address (16 unban, 28 ban address).
int buildAdminLogin(unsigned char* out, int capacity, int level, const std::string& nick,
                    const std::string& password);
int buildAdminText(unsigned char* out, int capacity, int code, const std::string& text);

struct ListedPlayer {
    int id = -1;
    std::string nick;
    std::int16_t score = 0;
    std::int32_t money = 0;
};

// The player entries of a join reply to an admin ([1, client type, ...]: no key, entries from
// byte 326, with money when the client type is 1). False when it is not such a reply.
bool parseAdminJoinReply(const unsigned char* data, int length, std::vector<ListedPlayer>* players);

struct StatusPlayer {
    std::string nick;
    std::string score;
    std::string ping;
};

struct StatusReply {
    std::string players;  // the player count field
    std::vector<StatusPlayer> list;
};

// A listing status reply in one datagram ("EYE1", nine fields, rules, players).
bool parseStatusReply(const unsigned char* data, int length, StatusReply* reply);

// "a|b|" into {"a", "b"}: the text of a ban-list reply after its code byte.
std::vector<std::string> splitBanList(const unsigned char* text, int length);

// The lines of a ban file, each ended by "\n" (a last line without one counts).
std::vector<std::string> splitBanFile(const std::string& content);

}  // namespace zevload
