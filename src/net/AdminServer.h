// The admin endpoint: AdminPort (4003 when 0 or less or missing) on AdminIPAddress.
#pragma once

#include "net/ServerInterface.h"

class AdminServer : public ServerInterface {
public:
    // Created on first use; delete the returned object to destroy it (its socket is closed).
    static AdminServer* getInstance();
    ~AdminServer() override;

    bool startServer();

private:
    AdminServer() = default;
    static AdminServer* s_instance;
};
