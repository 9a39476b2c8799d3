#include "net/Server.h"

#include "core/Conf.h"

Server* Server::s_instance = nullptr;

Server* Server::getInstance() {
    if (s_instance == nullptr) s_instance = new Server();
    return s_instance;
}

Server::~Server() {
    if (s_instance == this) s_instance = nullptr;
}

bool Server::startServer() {
    Conf* conf = Conf::getInstance();
    return startListening(conf->getConfEntryValueAsInt("ServerPort"),
                          conf->getConfEntryValue("GameIPAddress"));
}
