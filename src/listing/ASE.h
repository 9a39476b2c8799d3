// The All-Seeing Eye listing responder on the game port plus 123.
#pragma once

class ASE {
public:
    // `address` is the bound game address text, or null for all interfaces.
    ASE(int gamePort, const char* address);
    ~ASE();

    ASE(const ASE&) = delete;
    ASE& operator=(const ASE&) = delete;

    // Answers waiting queries and sends a master heartbeat when one is due.
    void Update();
    // The query socket for the main loop's wait; -1 when there is none.
    int getSocketHandle() const { return -1; }
};
