// What the server sends to a logged-in admin, as readable lines: the game's notices (joins,
// quits, chat, kills, scores, money, pings, time, weather) and the replies to commands.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "zevadmin/Protocol.h"

namespace zevadmin {

// The players the admin knows of: filled from the login reply and kept up to date by the join
// and leave notices, so that lines can name players rather than show bare ids.
class Roster {
public:
    void reset(const std::vector<PlayerEntry>& players);
    void add(int id, const std::string& nick);
    void remove(int id);
    // "Ann (#3)", or "#3" for an id the roster does not hold.
    std::string name(int id) const;
    std::size_t size() const { return m_nicks.size(); }

private:
    std::map<int, std::string> m_nicks;
};

struct EventOptions {
    bool showPings = true;
};

// Updates `roster` from one datagram and returns the line that shows it; empty for what has
// nothing to show (pings, player states, unknown codes, datagrams too short for their code).
std::string formatEvent(const unsigned char* data, std::size_t size, Roster& roster,
                        const EventOptions& options);

// The lines that greet an interactive session after the login.
std::vector<std::string> formatLogin(const LoginInfo& info, const std::string& nick, int level);

// The sentences of the one-byte results, shared by the command outcomes and the event lines.
std::string unbanSentence(int result, const std::string& entry);
std::string banAddressSentence(int result, const std::string& address);
std::string shutdownSentence(int result);
std::string motdReloadSentence(int result);
std::string motdSaveSentence(int result);
std::string passwordSentence(int result);
// The entries of a ban-list reply [17, "a|b|"]; `size` counts the code byte.
std::vector<std::string> banListEntries(const unsigned char* data, std::size_t size);
// Whether a ban-list reply may have been cut at the server's reply size.
bool banListMayBeCut(std::size_t size);

}  // namespace zevadmin
