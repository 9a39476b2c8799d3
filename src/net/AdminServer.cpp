#include "net/AdminServer.h"

#include "core/Conf.h"

AdminServer* AdminServer::s_instance = nullptr;

AdminServer* AdminServer::getInstance() {
    if (s_instance == nullptr) s_instance = new AdminServer();
    return s_instance;
}

AdminServer::~AdminServer() {
    if (s_instance == this) s_instance = nullptr;
}

bool AdminServer::startServer() {
    Conf* conf = Conf::getInstance();
    int port = conf->getConfEntryValueAsInt("AdminPort");
    if (port <= 0) port = 4003;
    return startListening(port, conf->getConfEntryValue("AdminIPAddress"));
}
