#include "game/GameSession.h"

void GameSession::broadcastData(const unsigned char* data, int length, int exceptId,
                                bool toAdmins) {
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        if (it->second.connected && it->first != exceptId) sendToPlayer(it->second, data, length);
    }
    if (toAdmins) sendToAdmins(data, length);
}
