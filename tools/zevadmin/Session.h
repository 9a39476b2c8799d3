// One admin session: the login, then either one command or the interactive console. Answers
// the server's pings with keep-alives throughout; the owner logs out at the end.
#pragma once

#include <cstdint>
#include <string>

#include "zevadmin/Command.h"
#include "zevadmin/Connection.h"
#include "zevadmin/Events.h"
#include "zevadmin/Options.h"

namespace zevadmin {

// Completes what a command needs from this machine before the login: the text of the file of
// motd-save, the new password of a bare `password` (asked for on the terminal). False with the
// reason in `error`.
bool completeCommand(Command* command, std::string* error);

class Session {
public:
    Session(const Options& options, Connection& connection);

    // Sends the login and waits for the answer. Returns an exit status; messages go to stderr.
    int login(const std::string& password);
    // Runs one command and prints its outcome: stdout on success, stderr otherwise.
    int runOnce(const Command& command);
    // Reads commands from `input` line by line and prints the outcome of each and every event
    // until the input ends or says quit. Returns 0 when every command succeeded, else the exit
    // status of the first that did not.
    int runInteractive(int input);
    // Tells the server that this admin leaves, once, if a login was sent: also after a login
    // that failed, since an attempt whose answer never came may have got in.
    void logout();

    // Makes SIGINT and SIGTERM end the wait in progress, so that the owner can log out, instead
    // of the process. The session then returns kExitSignal plus the signal number.
    static void catchSignals();

private:
    enum class Wait { Datagram, Timeout, Input, Signal, Refused };

    // Waits until a datagram arrives (read into m_datagram, a ping already answered), `input`
    // (when not negative) is readable, or `deadline` passes.
    Wait waitForDatagram(std::int64_t deadline, int input);
    void sendAll(const std::vector<Bytes>& datagrams);
    bool keepAliveDue(std::int64_t now) const;
    std::string noAnswerText(const std::string& what) const;

    // The signal that ended a wait with Wait::Signal.
    static int stopSignal();

    // Console helpers (Console.cpp).
    struct Pending;
    // Reads what waits on `input` and handles its whole lines. False once the input has ended
    // or said quit.
    bool readCommands(int input, std::string* buffer, std::vector<Pending>* pending, int* status);
    // One command line; false for quit.
    bool handleLine(const std::string& line, std::vector<Pending>* pending, int* status);
    bool offerToPending(std::vector<Pending>* pending, int* status);
    void expirePending(std::vector<Pending>* pending, int* status);

    const Options& m_options;
    Connection& m_connection;
    LoginInfo m_info;
    Roster m_roster;
    EventOptions m_eventOptions;
    Bytes m_datagram;
    std::int64_t m_lastSent = 0;
    std::int64_t m_lastHeard = 0;
    bool m_loginSent = false;
};

// Milliseconds of a monotonic clock.
std::int64_t nowMillis();

}  // namespace zevadmin
