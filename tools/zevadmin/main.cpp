// zevadmin: the command-line admin client of zevserver's admin port. See Options.cpp and
// Command.cpp for what it takes, Session.h for how a session runs.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "zevadmin/Command.h"
#include "zevadmin/Connection.h"
#include "zevadmin/Options.h"
#include "zevadmin/Password.h"
#include "zevadmin/Session.h"

using namespace zevadmin;

namespace {

int usageError(const std::string& message) {
    std::fprintf(stderr, "zevadmin: %s\n", message.c_str());
    return kExitUsage;
}

// --password, then ZEVADMIN_PASSWORD, then a prompt on the terminal.
bool loginPassword(const Options& options, std::string* password, std::string* error) {
    if (options.havePassword) {
        *password = options.password;
        return true;
    }
    const char* fromEnvironment = std::getenv("ZEVADMIN_PASSWORD");
    if (fromEnvironment != nullptr) {
        *password = fromEnvironment;
        return true;
    }
    std::string prompt = "Password of " + options.nick + " (admin level " +
                         std::to_string(options.level) + ") at " + options.host + ":" +
                         std::to_string(options.port) + ": ";
    return askPassword(prompt, password, error);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, &options, &error)) return usageError(error);
    if (options.help) {
        std::printf("%s\n%s\n%s", kUsage, kCommandHelp, kExitHelp);
        return kExitOk;
    }
    if (options.version) {
        std::printf("zevadmin %s\n", ZEVADMIN_VERSION);
        return kExitOk;
    }
    // Everything that can be wrong on this side is found before the server hears of it.
    Command command;
    bool oneShot = !options.command.empty();
    if (oneShot &&
        (!parseCommand(options.command, &command, &error) || !completeCommand(&command, &error))) {
        return usageError(error);
    }
    std::string password;
    if (!loginPassword(options, &password, &error)) return usageError(error);

    signal(SIGPIPE, SIG_IGN);
    Connection connection;
    if (!connection.open(options.host, options.port, &error)) return usageError(error);
    Session session(options, connection);
    Session::catchSignals();
    int status = session.login(password);
    if (status == kExitOk) {
        status = oneShot ? session.runOnce(command) : session.runInteractive(STDIN_FILENO);
    }
    session.logout();
    return status;
}
