#include <cstring>

#include "game/GameSession.h"
#include "net/Envelope.h"
#include "net/ServerInterface.h"

namespace {

// Room for the longest inner datagram in its envelope.
constexpr int kSealedSize = kMaxInnerSize + kEnvelopeOverhead;

}  // namespace

int GameSession::encryptGeneralData(unsigned char* buffer, int length, int capacity) {
    return sealEnvelope(m_generalCipher, buffer, length, buffer, capacity);
}

int GameSession::decryptGeneralData(unsigned char* buffer, int received) {
    return openEnvelope(m_generalCipher, buffer, received);
}

int GameSession::encryptUniqueData(const sockaddr_in* to, unsigned char* buffer, int length,
                                   int capacity) {
    const CRijndael* cipher = m_players.getPlayerEncryption(m_players.getPlayerID(to));
    if (cipher == nullptr) return -1;
    return sealEnvelope(*cipher, buffer, length, buffer, capacity);
}

int GameSession::decryptUniqueData(const sockaddr_in* from, unsigned char* buffer, int received) {
    const CRijndael* cipher = m_players.getPlayerEncryption(m_players.getPlayerID(from));
    if (cipher == nullptr) return -1;
    return openEnvelope(*cipher, buffer, received);
}

void GameSession::sendGeneral(const sockaddr_in* to, const unsigned char* data, int length) {
    unsigned char sealed[kSealedSize];
    int size = sealEnvelope(m_generalCipher, data, length, sealed, kSealedSize);
    if (size > 0) m_gameEndpoint.sendData(to, sealed, size);
}

void GameSession::sendToPlayer(const Player& player, const unsigned char* data, int length) {
    unsigned char sealed[kSealedSize];
    int size = sealEnvelope(player.uniqueCipher, data, length, sealed, kSealedSize);
    if (size > 0) m_gameEndpoint.sendData(&player.address, sealed, size);
}

void GameSession::sendToAdmins(const unsigned char* data, int length) {
    if (length <= 0) return;
    for (auto it = m_adminList.getIteratorBegin(); it != m_adminList.getIteratorEnd(); ++it) {
        if (it->second.connected) m_adminEndpoint.sendData(&it->second.address, data, length);
    }
}
