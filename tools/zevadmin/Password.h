// Passwords typed on the terminal, never echoed.
#pragma once

#include <string>

namespace zevadmin {

// Writes `prompt` to the controlling terminal, reads one line from it with echo off, and puts
// the terminal back as it was, also when SIGINT or SIGTERM arrives meanwhile (the signal then
// takes its course). False with the reason in `error` when there is no terminal or the input
// ends; standard input is not read, so it stays free for commands.
bool askPassword(const std::string& prompt, std::string* password, std::string* error);

}  // namespace zevadmin
