// The command line of zevadmin: connection options, then an optional command with its words.
#pragma once

#include <string>
#include <vector>

namespace zevadmin {

// Exit statuses, the same in both modes and listed in the usage text.
enum ExitStatus {
    kExitOk = 0,
    kExitRefused = 1,   // the server refused the login or the command, or the command failed
    kExitUsage = 2,     // bad command line, bad arguments, no password, unreadable local file
    kExitNoAnswer = 3,  // nothing (or nothing that fits) arrived in time, or contact was lost
    kExitSignal = 128,  // plus the number of the SIGINT or SIGTERM that stopped it, as shells do
};

struct Options {
    std::string host = "127.0.0.1";
    int port = 4003;
    int level = 1;
    std::string nick = "zevadmin";
    std::string password;
    bool havePassword = false;
    int timeoutMs = 5000;
    bool help = false;
    bool version = false;
    // The command and its arguments; empty for the interactive mode.
    std::vector<std::string> command;
};

// Fills `options` from the arguments. Options end at the first word that is not one (or after
// "--"); that word and the rest are the command. False with a one-line reason in `error`.
bool parseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// The options part of --help, and the exit statuses that end it.
extern const char* const kUsage;
extern const char* const kExitHelp;

}  // namespace zevadmin
