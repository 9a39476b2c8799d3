#include "game/PlayerList.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "core/Random.h"
#include "net/ServerInterface.h"

PlayerList* PlayerList::s_instance = nullptr;

namespace {

// Copies at most dstSize - 1 characters and always terminates, whatever the caller passed.
void copyText(char* dst, std::size_t dstSize, const char* src) {
    std::size_t length = src != nullptr ? strnlen(src, dstSize - 1) : 0;
    if (length > 0) std::memcpy(dst, src, length);
    dst[length] = '\0';
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Locale-independent on purpose: nicks are matched the same way whatever the host's locale.
bool equalsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (lowerAscii(*a) != lowerAscii(*b)) return false;
    }
    return *a == *b;
}

// Byte i lies in 2i..254, the ranges clients have always been given. Each byte takes a 32-bit
// draw so the modulo leaves no visible bias.
bool drawUniqueKey(unsigned char (&key)[16]) {
    std::uint32_t draws[16];
    if (!Random::fillBytes(draws, sizeof(draws))) return false;
    for (std::uint32_t i = 0; i < 16; ++i) {
        std::uint32_t low = 2 * i;
        key[i] = static_cast<unsigned char>(low + draws[i] % (255 - low));
    }
    return true;
}

}  // namespace

PlayerList* PlayerList::getInstance() {
    if (s_instance == nullptr) s_instance = new PlayerList();
    return s_instance;
}

PlayerList::~PlayerList() {
    if (s_instance == this) s_instance = nullptr;
}

Player* PlayerList::find(int id) {
    auto it = m_players.find(id);
    return it != m_players.end() ? &it->second : nullptr;
}

const Player* PlayerList::find(int id) const {
    auto it = m_players.find(id);
    return it != m_players.end() ? &it->second : nullptr;
}

int PlayerList::addPlayer(const sockaddr_in* address, const char* nick, int adminLevel) {
    if (address == nullptr) return -1;
    Player record;
    if (!drawUniqueKey(record.uniqueKey)) return -1;
    int id = getNewPlayerID();
    record.address = *address;
    copyText(record.addressText, sizeof(record.addressText),
             ServerInterface::getAsciiAddress(address));
    record.connected = true;
    copyText(record.nick, sizeof(record.nick), nick);
    record.adminLevel = adminLevel;
    record.uniqueCipher.MakeKey(reinterpret_cast<const char*>(record.uniqueKey),
                                CRijndael::sm_chain0, 16, 16);
    m_players.insert_or_assign(id, std::move(record));
    return id;
}

int PlayerList::getNewPlayerID() const {
    int next = 0;
    for (const auto& entry : m_players) {
        if (entry.first != next) break;
        ++next;
    }
    return next;
}

bool PlayerList::doesPlayerExist(int id) const { return find(id) != nullptr; }

void PlayerList::removePlayer(int id) { m_players.erase(id); }

void PlayerList::removeAllPlayers() { m_players.clear(); }

int PlayerList::getPlayerCount() const { return static_cast<int>(m_players.size()); }

int PlayerList::getPlayerConnectedCount() const {
    int count = 0;
    for (const auto& entry : m_players) {
        if (entry.second.connected) ++count;
    }
    return count;
}

int PlayerList::getPlayerID(const sockaddr_in* address) const {
    if (address == nullptr) return -1;
    // The stored text is the canonical dotted form of the stored address, so comparing the
    // addresses themselves gives the same answer without a text conversion per datagram.
    int found = -1;
    for (const auto& [id, player] : m_players) {
        if (!player.connected || player.address.sin_port != address->sin_port) continue;
        if (player.address.sin_addr.s_addr == address->sin_addr.s_addr) found = id;
    }
    return found;
}

int PlayerList::getPlayerID(const char* nick) const {
    if (nick == nullptr) return -1;
    for (const auto& [id, player] : m_players) {
        if (player.connected && equalsIgnoringAsciiCase(player.nick, nick)) return id;
    }
    return -1;
}

const sockaddr_in* PlayerList::getPlayerAddr(int id) const {
    const Player* player = find(id);
    return player != nullptr ? &player->address : nullptr;
}

char* PlayerList::getPlayerNick(int id, char* buffer, int size) const {
    const Player* player = find(id);
    if (player == nullptr || buffer == nullptr) return buffer;
    std::size_t length = std::strlen(player->nick);
    if (size > 1 && length < static_cast<std::size_t>(size - 1)) {
        std::memcpy(buffer, player->nick, length + 1);
    }
    return buffer;
}

void PlayerList::setPlayerScore(int id, short score) {
    if (Player* player = find(id)) player->score = score;
}

short PlayerList::getPlayerScore(int id) const {
    const Player* player = find(id);
    return player != nullptr ? player->score : 0;
}

void PlayerList::setPlayerMoney(int id, long money) {
    if (Player* player = find(id)) player->money = static_cast<std::int32_t>(money);
}

long PlayerList::getPlayerMoney(int id) const {
    const Player* player = find(id);
    return player != nullptr ? player->money : 0;
}

int PlayerList::getClientType(int id) const {
    const Player* player = find(id);
    return player != nullptr ? player->adminLevel : -1;
}

unsigned PlayerList::getPlayerDeathCountPerSecond(int id) const {
    const Player* player = find(id);
    return player != nullptr ? player->deathsThisSecond : 0;
}

void PlayerList::incrementPlayerDeathCountPerSecond(int id) {
    if (Player* player = find(id)) ++player->deathsThisSecond;
}

void PlayerList::resetPlayerDeathCountPerSecond(int id) {
    if (Player* player = find(id)) player->deathsThisSecond = 0;
}

void PlayerList::setPlayerDead(int id, bool dead) {
    if (Player* player = find(id)) player->dead = dead;
}

bool PlayerList::getPlayerDead(int id) const {
    const Player* player = find(id);
    return player != nullptr && player->dead;
}

int PlayerList::getPlayerTimeout(int id) const {
    const Player* player = find(id);
    return player != nullptr ? player->timeout : -1;
}

void PlayerList::updatePlayerTimeout(int id, int value) {
    if (Player* player = find(id)) player->timeout = value;
}

void PlayerList::resetTimeoutForPlayer(int id) { updatePlayerTimeout(id, 0); }

void PlayerList::incrementChatFloodCountForPlayer(int id) {
    if (Player* player = find(id)) ++player->chatFloodCount;
}

void PlayerList::resetChatFloodCountForPlayer(int id) { updatePlayerChatFloodCount(id, 0); }

void PlayerList::updatePlayerChatFloodCount(int id, int value) {
    if (Player* player = find(id)) player->chatFloodCount = value;
}

void PlayerList::resetChatFloodLastChatForPlayer(int id) {
    if (Player* player = find(id)) player->lastChat.clear();
}

void PlayerList::resetOutstandingClientCRCRequests(int id) {
    if (Player* player = find(id)) player->outstandingCrcRequests = 0;
}

void PlayerList::storeNewPingStamp(int id, unsigned short stamp) {
    if (Player* player = find(id)) player->newPingStamp = stamp;
}

void PlayerList::storeOldPingStamp(int id, unsigned short stamp) {
    if (Player* player = find(id)) player->oldPingStamp = stamp;
}

unsigned short PlayerList::getPlayerPing(int id) const {
    const Player* player = find(id);
    if (player == nullptr) return 0;
    return static_cast<unsigned short>(player->newPingStamp - player->oldPingStamp);
}

bool PlayerList::isChatRepeated(int id, const char* text) {
    Player* player = find(id);
    if (player == nullptr || text == nullptr) return false;
    if (player->lastChat == text) return true;
    player->lastChat = text;
    return false;
}

const CRijndael* PlayerList::getPlayerEncryption(int id) const {
    const Player* player = find(id);
    return player != nullptr ? &player->uniqueCipher : nullptr;
}

char* PlayerList::getPlainKey(int id, char* out) const {
    const Player* player = find(id);
    if (player != nullptr && out != nullptr) {
        std::memcpy(out, player->uniqueKey, sizeof(player->uniqueKey));
    }
    return out;
}
