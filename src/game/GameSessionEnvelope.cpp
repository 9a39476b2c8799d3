#include "game/GameSession.h"

int GameSession::decryptUniqueData(const sockaddr_in* from, unsigned char* data, int length) {
    (void)from;
    (void)data;
    (void)length;
    return -1;
}

int GameSession::decryptGeneralData(unsigned char* data, int length) {
    (void)data;
    (void)length;
    return 0;
}
