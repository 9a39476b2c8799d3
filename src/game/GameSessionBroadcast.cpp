#include "game/GameSession.h"

void GameSession::broadcastData(const unsigned char* data, int length, int exceptId,
                                bool toAdmins) {
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        if (!it->second.connected || !it->second.confirmed || it->first == exceptId) continue;
        m_gameBatch.addSealed(it->second.uniqueCipher, it->second.address, data, length);
    }
    m_gameBatch.flush();
    if (toAdmins) sendToAdmins(data, length);
}

void GameSession::announceRemoval(int id, int reason) {
    ++m_counters.playersRemoved[static_cast<unsigned char>(reason)];
    const unsigned char notice[3] = {9, static_cast<unsigned char>(reason),
                                     static_cast<unsigned char>(id)};
    broadcastData(notice, sizeof(notice), -1, true);
}
