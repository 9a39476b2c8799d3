// One joined game player or logged-in admin, as kept by PlayerList. A plain record: the table
// copies it by value (the text and the cipher as objects) and owns every copy it stores.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "game/GameState.h"
#include "net/CRijndael.h"

struct Player {
    // Where the datagrams come from and replies go; players are told apart by address and port.
    sockaddr_in address{};
    // Dotted-decimal form of `address`, zero-terminated.
    char addressText[17] = {};
    // Set when the record is made and never cleared: leaving removes the record instead.
    bool connected = false;
    // Seconds since the last datagram from this sender.
    std::int32_t timeout = 0;
    // Up to 12 characters for game players and 13 for admins, zero-terminated.
    char nick[14] = {};
    // The player's own AES-128 key, handed to the client in the join reply.
    unsigned char uniqueKey[16] = {};
    std::int16_t score = 0;
    std::int32_t money = 0;
    // Millisecond stamps of the last ping reply and request; their difference is the ping.
    std::uint16_t newPingStamp = 0;
    std::uint16_t oldPingStamp = 0;
    std::uint16_t ping = 0;
    std::uint16_t previousPing = 0;
    // 0 for game players; 1 (admin) or 2 (admin plus) in the admin table.
    std::int32_t adminLevel = 0;
    // Chat lines in the current second.
    std::int32_t chatFloodCount = 0;
    // The last chat text that was not a repetition.
    std::string lastChat;
    // Position, heading, vehicle, skin and tagged values from the player's state records.
    GameState gameState;
    // Client check requests sent and not yet answered.
    std::int32_t outstandingCrcRequests = 0;
    // Death reports accepted in the current second.
    std::uint32_t deathsThisSecond = 0;
    bool dead = false;
    // Set by the first datagram that decrypts under the player's own key. Until then the
    // player gets only what answers its join (reply, message of the day) and the pings, so a
    // join from a forged address cannot make the server stream the game to that address.
    bool confirmed = false;
    // Keyed with `uniqueKey`; senders work on a copy so this one never changes.
    CRijndael uniqueCipher;

    // The ping everyone is told: the mean of the last two measured, at most a second (a lost
    // reply measures the whole 16-bit stamp range).
    int reportedPing() const {
        int report = (ping + previousPing) / 2;
        return report > 1000 ? 1000 : report;
    }
};
