#include "zevadmin/Protocol.h"

#include <strings.h>

#include <cstring>

#include "core/Log.h"
#include "net/ByteReader.h"
#include "net/ByteWriter.h"

namespace zevadmin {

namespace {

constexpr std::size_t kServerNameField = 50;
constexpr std::size_t kMotdUrlField = 255;
constexpr std::size_t kCheckValues = 12;
constexpr unsigned char kEntryEnd = 0x07;
constexpr int kLiberty = 1;

const char* const kWeatherNames[] = {"Sun", "Cloud", "Rain", "Fog"};
const char* const kWeatherAdjectives[] = {"sunny", "cloudy", "rainy", "foggy"};
const char* const kMapNames[] = {"Vice City : Deathmatch", "Vice City : Stunt",
                                 "Liberty City : Portland", "Liberty City : Shore Side Vale",
                                 "Liberty City : Staunton Island"};

std::string readField(ByteReader& reader, std::size_t size) {
    char field[kMotdUrlField + 1] = {};
    reader.bytes(reinterpret_cast<unsigned char*>(field), size);
    return std::string(field, strnlen(field, size));
}

// One player entry of the join reply; false when the datagram ends inside it.
bool readPlayer(ByteReader& reader, bool withMoney, PlayerEntry* entry) {
    entry->id = reader.u8();
    entry->score = reader.i16();
    entry->hasMoney = withMoney;
    if (withMoney) entry->money = reader.i32();
    if (!reader.ok()) return false;
    while (true) {
        unsigned char c = reader.u8();
        if (!reader.ok()) return false;
        if (c == kEntryEnd) return true;
        entry->nick.push_back(static_cast<char>(c));
    }
}

}  // namespace

Bytes encodeLogin(int level, const std::string& nick, const std::string& password) {
    unsigned char buffer[kMaxDatagram];
    ByteWriter writer(buffer, sizeof(buffer));
    writer.u8(kLogin);
    writer.u8('0');
    writer.u8(static_cast<std::uint8_t>(level));
    writer.bytes(nick.data(), nick.size());
    writer.u8('|');
    writer.bytes(password.data(), password.size());
    writer.u8(0);
    if (!writer.ok()) return {};
    return Bytes(buffer, buffer + writer.size());
}

bool decodeLoginReply(const unsigned char* data, std::size_t size, LoginInfo* info) {
    ByteReader reader(data, size);
    if (reader.u8() != kJoinReply) return false;
    info->clientType = reader.u8();
    info->mapNumber = reader.u8();
    info->gameMode = reader.u8();
    info->adminId = reader.u8();
    info->maxPlayers = reader.u8();
    info->hour = reader.u8();
    info->minute = reader.u8();
    info->weather = reader.u8();
    reader.skip(kCheckValues);
    info->serverName = readField(reader, kServerNameField);
    info->motdUrl = readField(reader, kMotdUrlField);
    if (!reader.ok()) return false;
    info->players.clear();
    while (reader.remaining() > 0) {
        PlayerEntry entry;
        if (!readPlayer(reader, info->clientType == kLiberty, &entry)) break;
        info->players.push_back(entry);
    }
    return true;
}

std::string refusalSentence(int reason, const std::string& nick) {
    switch (reason) {
        case -1:
            return "the server refused the login without giving a reason";
        case 0:
            return "the nick '" + printable(nick) +
                   "' is already used by a logged-in admin (choose another with --nick)";
        case 1:
            return "this address is banned on the server";
        case 2:
            return "an admin is already logged in from this address and port";
        case 4:
            return "wrong password (the tenth wrong password from one address bans it)";
        case 6:
            return "the server did not understand the login request (malformed)";
        case 11:
            return "admin level 2 (admin+) is not enabled on the server";
        default:
            return "the server refused the login (reason " + std::to_string(reason) + ")";
    }
}

const char* weatherName(int weather) {
    if (weather < 0 || weather > 3) return nullptr;
    return kWeatherNames[weather];
}

int parseWeather(const std::string& text) {
    for (int i = 0; i < 4; ++i) {
        if (strcasecmp(text.c_str(), kWeatherNames[i]) == 0 ||
            strcasecmp(text.c_str(), kWeatherAdjectives[i]) == 0) {
            return i;
        }
    }
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '3') return text[0] - '0';
    return -1;
}

const char* mapName(int mapNumber) {
    if (mapNumber < 1 || mapNumber > 5) return nullptr;
    return kMapNames[mapNumber - 1];
}

std::string leaveReason(int reason) {
    switch (reason) {
        case 0:
            return "quit";
        case 1:
            return "kicked or banned by an admin";
        case 2:
            return "timed out";
        case 3:
            return "chat flood";
        case 4:
            return "trainer detected";
        case 5:
            return "failed the ping or client check";
        case 6:
            return "did not answer the client checks";
        default:
            return "reason " + std::to_string(reason);
    }
}

std::string textAt(const unsigned char* data, std::size_t size, std::size_t from) {
    if (from >= size) return "";
    const char* start = reinterpret_cast<const char*>(data + from);
    return std::string(start, strnlen(start, size - from));
}

std::string printable(const std::string& text) { return Log::printable(text); }

}  // namespace zevadmin
