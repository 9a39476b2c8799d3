// The table of everyone the server talks to on one port: Player records keyed by a small
// non-negative id, walked in ascending id order. getInstance() is the game players' table; the
// GameSession builds a second table for admins with the public constructor, with ids of its own.
//
// Every operation that takes an id changes nothing and returns the stated default when the id is
// not in the table. Pointers and references into a record stay valid until it is removed.
#pragma once

#include <netinet/in.h>

#include <map>

#include "game/Player.h"
#include "net/CRijndael.h"

class PlayerList {
public:
    using PlayerMap = std::map<int, Player>;

    // The game players' table, created on first use; delete it to destroy it.
    static PlayerList* getInstance();

    PlayerList() = default;
    ~PlayerList();

    PlayerList(const PlayerList&) = delete;
    PlayerList& operator=(const PlayerList&) = delete;

    // Walks may change records in place but must not erase while iterating: collect ids first.
    PlayerMap::iterator getIteratorBegin() { return m_players.begin(); }
    PlayerMap::iterator getIteratorEnd() { return m_players.end(); }
    PlayerMap& getPlayerMap() { return m_players; }
    const PlayerMap& getPlayerMap() const { return m_players; }

    // Stores a fresh record under the smallest free id and returns that id: connected, counters
    // zero, the address and its dotted text, the first 13 characters of `nick`, `adminLevel`, and
    // a new random key with the cipher keyed from it. Does not validate the nick or address.
    // Negative when `address` is null or no key could be drawn (the join is then refused, which
    // is safer than a guessable key).
    int addPlayer(const sockaddr_in* address, const char* nick, int adminLevel);
    // The smallest non-negative integer that is not an id in the table.
    int getNewPlayerID() const;
    bool doesPlayerExist(int id) const;
    void removePlayer(int id);
    void removeAllPlayers();
    int getPlayerCount() const;
    int getPlayerConnectedCount() const;

    // The connected record whose address text and port equal `address`'s; when several match,
    // the highest id. -1 when none or `address` is null.
    int getPlayerID(const sockaddr_in* address) const;
    // The lowest id of a connected record whose nick equals `nick` ignoring ASCII case; -1 when
    // none or `nick` is null.
    int getPlayerID(const char* nick) const;
    // The stored address, or null.
    const sockaddr_in* getPlayerAddr(int id) const;
    // Copies the nick with its zero into `buffer` only when its length is below `size` - 1;
    // otherwise leaves `buffer` as it was. Returns `buffer`.
    char* getPlayerNick(int id, char* buffer, int size) const;

    void setPlayerScore(int id, short score);
    short getPlayerScore(int id) const;  // 0 when absent
    // Stored as 32 bits.
    void setPlayerMoney(int id, long money);
    long getPlayerMoney(int id) const;  // 0 when absent
    // The record's admin level (0 for game players); -1 when absent.
    int getClientType(int id) const;

    unsigned getPlayerDeathCountPerSecond(int id) const;  // 0 when absent
    void incrementPlayerDeathCountPerSecond(int id);
    void resetPlayerDeathCountPerSecond(int id);
    void setPlayerDead(int id, bool dead);
    bool getPlayerDead(int id) const;  // false when absent

    int getPlayerTimeout(int id) const;  // -1 when absent
    void updatePlayerTimeout(int id, int value);
    void resetTimeoutForPlayer(int id);

    void incrementChatFloodCountForPlayer(int id);
    void resetChatFloodCountForPlayer(int id);
    void updatePlayerChatFloodCount(int id, int value);
    // Empties the last chat text, so the same line is accepted once more.
    void resetChatFloodLastChatForPlayer(int id);
    void resetOutstandingClientCRCRequests(int id);

    void storeNewPingStamp(int id, unsigned short stamp);
    void storeOldPingStamp(int id, unsigned short stamp);
    // (new stamp - old stamp) modulo 65536, so a wrapped stamp counter still gives the interval.
    // 0 when absent.
    unsigned short getPlayerPing(int id) const;

    // True when `text` equals the last chat text byte for byte (case counts); otherwise the text
    // becomes the last chat text and the result is false. False for an absent id or null text.
    bool isChatRepeated(int id, const char* text);

    // State records, compact forms, visibility and skins.

    // Parses one state record (the game-data payload after the command byte) into the player's
    // gameState and into the shared VehicleList record of the vehicle it names, which is created
    // on first mention. Selector byte: 0 on foot, 1-100 driver, 101-200 passenger (which zeroes
    // the vehicle's heading), 201-255 on foot with heading 0; a selector of 0-100 without its 4
    // heading bytes counts as heading 0. Reads at most `length` bytes: a tagged field that does
    // not fit ends the walk, with the fields before it applied. No effect for an absent id or
    // `length` <= 0. Allocates only when a vehicle is first named.
    void storeGTA3PlayerData(int id, const unsigned char* record, int length);
    void storeGTAVCPlayerData(int id, const unsigned char* record, int length);
    // Writes the player's compact state, itself a well-formed state record, at buffer + *position
    // and advances *position past it: 20 (GTA3) or 22 (GTA:VC) bytes on foot, 1 for a passenger,
    // 18 for a driver. The caller leaves room for 22 bytes. 1 when written; 0, with nothing
    // written, for an absent id.
    int getGTA3PlayerGameDataPacketTiny(int id, unsigned char* buffer, int* position) const;
    int getGTAVCPlayerGameDataPacketTiny(int id, unsigned char* buffer, int* position) const;
    // True when the two players are less than 300 units apart in x and y (a player in a vehicle
    // is measured at the vehicle), when the distance is not a number, or when either is absent.
    bool isPlayerVisible(int idA, int idB) const;
    void storePlayerSkin(int id, int skin);
    int getPlayerSkin(int id) const;  // 0 when absent

    // The player's keyed cipher, or null. Callers encrypt with a copy.
    const CRijndael* getPlayerEncryption(int id) const;
    // Writes the 16 key bytes to `out` (room for 16) and returns `out`; unchanged when absent.
    char* getPlainKey(int id, char* out) const;

private:
    Player* find(int id);
    const Player* find(int id) const;

    static PlayerList* s_instance;
    PlayerMap m_players;
};
