#include "core/ServerMain.h"

#include <arpa/inet.h>

#include <string>

#include "admin/Ban.h"
#include "core/ArgumentList.h"
#include "core/Background.h"
#include "core/Clock.h"
#include "core/Conf.h"
#include "core/ConfigCheck.h"
#include "core/Log.h"
#include "game/GameSession.h"
#include "net/AdminServer.h"
#include "net/GeneralKey.h"
#include "net/Server.h"

namespace {

void logLine(const std::string& text) { Log::getInstance()->writeToLog(text, true, true); }

bool isSet(const char* shortName, const char* longName) {
    ArgumentList* args = ArgumentList::getInstance();
    return args->isArgumentSet(shortName) || args->isArgumentSet(longName);
}

bool listenMode() { return Log::getInstance()->getListenMode(); }

int confInt(const char* key) { return Conf::getInstance()->getConfEntryValueAsInt(key); }

const char* confText(const char* key) { return Conf::getInstance()->getConfEntryValue(key); }

// The singletons main owns, in the order the final clean-up destroys them.
int finalCleanUp(ServerContext& context) {
    Ban::getInstance()->writeList();
    delete Ban::getInstance();
    delete Server::getInstance();
    delete context.keyboard;
    context.keyboard = nullptr;
    delete ArgumentList::getInstance();
    delete Log::getInstance();
    return 0;
}

// An end before the log file exists: nothing is left to close but the early singletons.
int endEarly(ServerContext& context) {
    context.keyboard->getKey();
    delete context.keyboard;
    context.keyboard = nullptr;
    delete ArgumentList::getInstance();
    delete Log::getInstance();
    return 0;
}

void applyOverride(const char* shortName, const char* longName, const char* key) {
    ArgumentList* args = ArgumentList::getInstance();
    Conf* conf = Conf::getInstance();
    // The long form goes second so that it wins when both are given.
    conf->setConfEntryValue(key, args->getArgumentValue(shortName, 0), 0);
    conf->setConfEntryValue(key, args->getArgumentValue(longName, 0), 0);
}

void applyCommandLineOverrides() {
    applyOverride("-p", "--players", "MaxPlayers");
    applyOverride("-m", "--map", "GameMap");
    applyOverride("-n", "--name", "ServerName");
    applyOverride("-o", "--port", "ServerPort");
    applyOverride("-a", "--ase", "ASE");
    ArgumentList* args = ArgumentList::getInstance();
    Conf* conf = Conf::getInstance();
    for (const char* option : {"-s", "--pass"}) {
        const char* password = args->getArgumentValue(option, 0);
        if (password == nullptr) continue;
        conf->setConfEntryValue("ServerPasswordEnabled", "1", 0);
        conf->setConfEntryValue("ServerPassword", password, 0);
    }
}

bool loadConfiguration() {
    if (Conf::getInstance()->loadConf()) return true;
    if (listenMode()) {
        logLine("The configuration file could not be loaded.");
        logLine(
            "Please click \"Setup Server\" and check that \"zevserver.conf\" is in your ZEV "
            "install folder.");
    } else {
        ArgumentList::showVersion();
        logLine("ERROR: The configuration file could not be loaded.");
    }
    return false;
}

bool validateConfiguration() {
    if (Conf::getInstance()->checkForRequiredConfEntries()) return true;
    const char* summary =
        "ERROR: The ServerName, ServerPort, GameMap, GameHour, GameMins, Weather and BannedFile "
        "MUST be specified in the configuration file.";
    logLine(summary);
    if (listenMode()) {
        logLine("The server is setup incorrectly.");
        logLine("Please click \"Setup Server\" and check the settings are correct.");
    } else {
        logLine(summary);
    }
    return false;
}

void openLogAndBanList() {
    bool logOpened = Log::getInstance()->setupLog();
    ArgumentList::showVersion();
    if (!logOpened) {
        logLine("ERROR: Unable to setup log for writing ... no file logging available.");
        logLine("");
    }
    Ban* bans = Ban::getInstance();
    switch (bans->load(confText("BannedFile"))) {
        case Ban::LoadResult::Loaded:
            break;
        case Ban::LoadResult::Missing:
            logLine("ERROR: Unable to open existing Banned IP list. Starting clean.");
            // The line above already says the file is not there; a folder that is missing too
            // is reported by the first ban that cannot be saved.
            bans->writeList(false);
            break;
        case Ban::LoadResult::Unreadable:
            // The file is never emptied: its bans may only be unreadable for a moment.
            logLine(
                "ERROR: Unable to read existing Banned IP list. Starting with an empty list; the "
                "file is kept until the next ban or unban.");
            break;
    }
}

bool checkGeneralKey() {
    unsigned char key[kGeneralKeySize];
    switch (loadGeneralKey(key)) {
        case GeneralKeyStatus::kOk:
            return true;
        case GeneralKeyStatus::kBadSetting:
            logLine("ERROR: GeneralKey must be 32 hexadecimal digits.");
            return false;
        case GeneralKeyStatus::kDamagedRecord:
            logLine(
                "ERROR: The built-in general key is damaged. Set GeneralKey in the configuration "
                "file.");
            return false;
    }
    return false;
}

bool checkPort(const char* key) {
    int port = confInt(key);
    if (port <= 65535) return true;
    logLine("ERROR: Port " + std::to_string(port) + " is out of range.");
    return false;
}

bool checkAddress(const char* key) {
    const char* address = confText(key);
    if (address == nullptr || inet_addr(address) != INADDR_NONE) return true;
    logLine(std::string("ERROR: ") + key + " '" + Log::printable(address) +
            "' is not an IPv4 address; the port could not be bound.");
    return false;
}

// --check-config: the start-up up to the first port, with the same messages, then the warnings
// only this check gives. Nothing is opened for writing and no port is bound.
int checkConfiguration(ServerContext& context) {
    if (!loadConfiguration()) {
        endEarly(context);
        return 1;
    }
    applyCommandLineOverrides();
    bool ok = validateConfiguration();
    ok = checkGeneralKey() && ok;
    ok = checkPort("ServerPort") && ok;
    ok = checkAddress("GameIPAddress") && ok;
    int warnings = reportConfigurationWarnings();
    std::string counted = std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
    logLine(ok ? "Configuration OK: the server would start (" + counted + ")."
               : "Configuration check failed: the server would not start.");
    endEarly(context);
    return ok ? 0 : 1;
}

void logGameEndpoint(const Server& server) {
    Log* log = Log::getInstance();
    if (!listenMode()) {
        log->writeToLog("Name: '", false, true);
        log->writeToLog(confText("ServerName"), false, true);
        log->writeToLog("'", true, true);
        log->writeToLog("Port: ", false, true);
        log->writeToLog(confText("ServerPort"), true, true);
    }
    if (confText("GameIPAddress") != nullptr) {
        logLine(std::string("Game Listening IP: ") + server.getServerIP());
    }
}

void logStatisticsStart() {
    static const char* const kMapNames[] = {"GTA:VC:Deathmatch", "GTA:VC:Stunt", "GTA3:Portland",
                                            "GTA3:Shore Side Vale", "GTA3:Staunton Island"};
    Log* log = Log::getInstance();
    const char* separator = "\xA9";
    int map = confInt("GameMap");
    log->writeToLog("ServerInit: ", false, false);
    log->writeToLog(confText("ServerName"), false, false);
    log->writeToLog(separator, false, false);
    log->writeToLog(confText("ServerPort"), false, false);
    log->writeToLog(separator, false, false);
    if (map >= 1 && map <= 5) log->writeToLog(kMapNames[map - 1], false, false);
    log->writeToLog(separator, false, false);
    log->writeToLog(confInt("MaxPlayers"), false, false);
    log->writeToLog(separator, true, false);
}

void startSession(ServerContext& context) {
    context.session = new GameSession();
    if (confInt("Testmode") == 1) {
        logLine("PLEASE NOTE: Testmode is on.");
        logLine("");
    }
    if (!listenMode()) {
        logLine("######");
        logLine("Server successfully started on port " +
                std::to_string(context.server->getLocalPort()));
    }
    if (confInt("StatLogging") == 1) logStatisticsStart();
    if (confInt("MOTDEnabled") == 1 && !context.session->loadMessageOfTheDay()) {
        logLine("ERROR: 'motd.txt' could not be opened for reading.");
    }
    if (!listenMode() && confInt("ServerPasswordEnabled") == 1) {
        if (confText("ServerPassword") != nullptr) {
            context.session->setPasswordRequired(true);
        } else {
            logLine(
                "ERROR: Server password enabled, but no password found. Server password "
                "disabled.");
        }
    }
}

void startAdminEndpoint(ServerContext& context) {
    if (confInt("AdminServer") != 1) return;
    if (!context.adminServer->startServer()) {
        logLine("Could not start admin server.");
        return;
    }
    if (confText("AdminPassword") == nullptr) {
        logLine("No password set for administration, administration access disabled.");
        return;
    }
    std::string port = std::to_string(context.adminServer->getLocalPort());
    if (!listenMode()) logLine("Administration access successfully started on port " + port);
    context.adminEnabled = true;
    if (confInt("AdminPlus") != 1) return;
    if (confText("AdminPlusPassword") == nullptr) {
        logLine("No admin+ password set, admin+ disabled.");
        return;
    }
    if (!listenMode()) logLine("Admin+ successfully started on port " + port);
    context.session->setAdminPlusEnabled(true);
}

void startListing(ServerContext& context) {
    if (confInt("ASE") != 1) return;
    const char* address =
        confText("GameIPAddress") != nullptr ? context.server->getServerIP() : nullptr;
    int port = context.server->getLocalPort();
    context.listingResponder = std::make_unique<ASE>(port, address);
    if (!listenMode()) {
        logLine("All Seeing Eye listing enabled. Port " + std::to_string(port + 123) +
                " must be accessable from the internet.");
    }
}

void shutDown(ServerContext& context) {
    context.listingResponder.reset();
    if (context.adminEnabled) {
        bool stopped = !context.adminServer->isListening() || context.adminServer->stopListening();
        logLine(stopped ? "ADMINSERVER: successfully shutdown the server."
                        : "ADMINSERVER: unable to shutdown the server.");
    }
    delete context.adminServer;
    context.adminServer = nullptr;
    context.session->notifyPlayersOfShutdown();
    writeMetrics(context, false);
    logLine("SERVER: A total of " + std::to_string(context.server->getBytesRead()) +
            " bytes were received and " + std::to_string(context.server->getBytesSent()) +
            " bytes were sent.");
    bool stopped = !context.server->isListening() || context.server->stopServer();
    logLine(stopped ? "Server successfully shutdown." : "Unable to shutdown.");
    delete context.session;
    context.session = nullptr;
}

}  // namespace

void writeMetrics(const ServerContext& context, bool up) {
    if (context.metrics == nullptr) return;
    context.metrics->write(context, Clock::monotonicSeconds() - context.startedAt, up);
}

int runServer(int argc, const char* const* argv) {
    setUpProcessSignals();
    ServerContext context;
    context.startedAt = Clock::monotonicSeconds();
    Log* log = Log::getInstance();
    ArgumentList* args = ArgumentList::getInstance();
    args->parseArguments(argc, argv);
    context.keyboard = new Keyboard();

    if (isSet("-h", "--help") || args->isArgumentSet("-?")) {
        ArgumentList::showVersion();
        ArgumentList::showHelp();
        return endEarly(context);
    }
    log->setQuietMode(isSet("-q", "--quiet"));
    log->setSTDTime(isSet("-t", "--time"));
    log->setListenMode(isSet("-i", "--listen"));
    if (args->isArgumentSet("--check-config")) return checkConfiguration(context);

    if (!loadConfiguration()) return endEarly(context);
    applyCommandLineOverrides();
    if (!validateConfiguration()) return endEarly(context);

    openLogAndBanList();
    if (!checkGeneralKey()) return finalCleanUp(context);
    context.chatFloodMaxCount = confInt("ChatFloodMaxCount");
    if (context.chatFloodMaxCount <= 0) context.chatFloodMaxCount = 2;
    context.background = isSet("-b", "--background");
    if (context.background) becomeBackgroundProcess();

    context.server = Server::getInstance();
    context.adminServer = AdminServer::getInstance();
    if (!context.server->startServer()) {
        logLine("Unable to start server.");
        delete context.adminServer;
        return finalCleanUp(context);
    }
    logGameEndpoint(*context.server);
    startSession(context);
    startAdminEndpoint(context);
    startListing(context);
    context.metrics = std::make_unique<MetricsFile>();
    writeMetrics(context, true);

    runMainLoop(context);

    shutDown(context);
    return finalCleanUp(context);
}
