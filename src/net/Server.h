// The game endpoint: ServerPort on GameIPAddress.
#pragma once

#include "net/ServerInterface.h"

class Server : public ServerInterface {
public:
    // Created on first use; delete the returned object to destroy it (its socket is closed).
    static Server* getInstance();
    ~Server() override;

    bool startServer();
    bool stopServer() { return stopListening(); }

private:
    Server() = default;
    static Server* s_instance;
};
