#include "game/GameSession.h"

void GameSession::handleChatFloodingPlayers(int maxCount) { (void)maxCount; }

void GameSession::resetChatFloodCountForAllPlayers() {}

void GameSession::handleJoinFloodingPlayers() {}

void GameSession::removeTimedOutPlayers(int timeoutSeconds) { (void)timeoutSeconds; }

void GameSession::updateAllPlayerTimeouts(int seconds) { (void)seconds; }

void GameSession::pingAllPlayers() {}

void GameSession::handleClientCRCForAllPlayers() {}

void GameSession::sendTime() {}

void GameSession::sendWeather() {}

void GameSession::tickClock() {
    if (m_weatherHold > 0) --m_weatherHold;
    if (m_gameMins <= 58) {
        ++m_gameMins;
        return;
    }
    m_gameMins = 0;
    m_gameHour = m_gameHour <= 22 ? m_gameHour + 1 : 0;
}

void GameSession::notifyPlayersOfShutdown() {}
