// The command words of zevadmin, the same in both modes, and the datagram each one sends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zevadmin/Protocol.h"

namespace zevadmin {

enum class CommandKind {
    Kick,
    Ban,
    Bans,
    BanIp,
    Unban,
    Say,
    Msg,
    Time,
    Weather,
    Password,
    MotdReload,
    MotdSave,
    Ip,
    ResetScores,
    ResetMoney,
    AddMoney,
    Shutdown,
};

struct Command {
    CommandKind kind = CommandKind::Bans;
    // The words as typed, for messages ("kick 3"); a new server password shows as ****.
    std::string line;
    // What goes to the server. Empty for `password` without its argument and for `motd-save`
    // until the session has asked for the password or read the file (encodePassword,
    // encodeMotdSave).
    Bytes datagram;
    int playerId = -1;  // kick, ban, ip
    int hour = 0;       // time
    int minute = 0;
    int weather = 0;
    std::int32_t amount = 0;  // add-money
    // ban-ip and unban: the address or entry; say and msg: the chat line as the server echoes
    // it; motd-save: the file name.
    std::string text;
};

// Reads the words of one command. False with a one-line reason in `error`.
bool parseCommand(const std::vector<std::string>& words, Command* command, std::string* error);

// [27, password, NUL] for 1 to 32 characters. False with the reason in `error`.
bool encodePassword(const std::string& password, Bytes* datagram, std::string* error);

// [40, four zero bytes, text, NUL]. A line end is added when the text lacks one, because the
// server drops the last byte of motd.txt when it loads it. False (with the reason in `error`)
// when the text holds a NUL or is longer than the 998 characters players are sent.
bool encodeMotdSave(const std::string& text, Bytes* datagram, std::string* error);

// The command list of --help and of the interactive `help`.
extern const char* const kCommandHelp;

}  // namespace zevadmin
