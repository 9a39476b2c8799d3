#include "game/GameSession.h"

void GameSession::processAdminCommand(int command, const unsigned char* payload,
                                      const sockaddr_in* from, int length) {
    (void)command;
    (void)payload;
    (void)from;
    (void)length;
}
