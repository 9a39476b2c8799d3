#include "zevadmin/Session.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "zevadmin/Password.h"
#include "zevadmin/Request.h"

namespace zevadmin {

namespace {

// The server pings every second and drops an admin after 16 silent seconds; a keep-alive of our
// own covers pings that get lost.
constexpr std::int64_t kKeepAliveMs = 5000;
// The server leaves a login unanswered when it has checked too many passwords in the last
// second, and UDP may lose either way, so an unanswered login is sent again.
constexpr std::int64_t kLoginRetryMs = 1000;
// The refusal reason for a login from an address and port that is already logged in.
constexpr int kAlreadyLoggedIn = 2;
// A motd-save file is read up to this size, enough to tell that it is too long.
constexpr std::size_t kMaxMotdFile = 64 * 1024;

volatile sig_atomic_t g_stopSignal = 0;

void noteStop(int signal) { g_stopSignal = signal; }

bool readFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (text->size() > kMaxMotdFile) text->resize(kMaxMotdFile + 1);
    return !in.bad();
}

}  // namespace

std::int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool completeCommand(Command* command, std::string* error) {
    if (command->kind == CommandKind::MotdSave) {
        std::string text;
        if (!readFile(command->text, &text)) {
            *error = "cannot read '" + command->text + "'";
            return false;
        }
        return encodeMotdSave(text, &command->datagram, error);
    }
    if (command->kind == CommandKind::Password && command->datagram.empty()) {
        std::string password;
        return askPassword("New server password: ", &password, error) &&
               encodePassword(password, &command->datagram, error);
    }
    return true;
}

Session::Session(const Options& options, Connection& connection)
    : m_options(options), m_connection(connection) {}

int Session::stopSignal() { return g_stopSignal; }

void Session::catchSignals() {
    struct sigaction stop {};
    stop.sa_handler = noteStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
}

std::string Session::noAnswerText(const std::string& what) const {
    char seconds[32];
    std::snprintf(seconds, sizeof(seconds), "%g", m_options.timeoutMs / 1000.0);
    return "no answer from " + m_connection.peer() + " to " + what + " within " + seconds + " s";
}

int Session::login(const std::string& password) {
    Bytes request = encodeLogin(m_options.level, m_options.nick, password);
    if (request.empty()) {
        std::fprintf(stderr, "zevadmin: the password is too long for one datagram\n");
        return kExitUsage;
    }
    std::int64_t deadline = nowMillis() + m_options.timeoutMs;
    std::int64_t nextAttempt = 0;
    int attempts = 0;
    while (true) {
        if (nowMillis() >= nextAttempt) {
            sendAll({request});
            m_loginSent = true;
            ++attempts;
            nextAttempt = nowMillis() + kLoginRetryMs;
        }
        Wait wait = waitForDatagram(std::min(deadline, nextAttempt), -1);
        if (wait == Wait::Refused) {
            std::fprintf(stderr, "zevadmin: nothing listens on %s (is AdminServer 1 there?)\n",
                         m_connection.peer().c_str());
            return kExitNoAnswer;
        }
        if (wait == Wait::Signal) return kExitSignal + stopSignal();
        if (wait == Wait::Timeout && nowMillis() >= deadline) {
            std::fprintf(stderr, "zevadmin: %s\n", noAnswerText("the login").c_str());
            return kExitNoAnswer;
        }
        if (wait != Wait::Datagram || m_datagram.empty()) continue;
        if (m_datagram[0] == kRefused) {
            int reason = m_datagram.size() >= 2 ? m_datagram[1] : -1;
            if (reason == kAlreadyLoggedIn && attempts > 1) {
                // An earlier attempt got in and its answer was lost: leave, and come in again
                // for the answer this session needs.
                sendAll({Bytes{kQuit}});
                nextAttempt = 0;
                continue;
            }
            std::fprintf(stderr, "zevadmin: login refused: %s\n",
                         refusalSentence(reason, m_options.nick).c_str());
            return kExitRefused;
        }
        if (decodeLoginReply(m_datagram.data(), m_datagram.size(), &m_info)) {
            m_roster.reset(m_info.players);
            return kExitOk;
        }
    }
}

int Session::runOnce(const Command& command) {
    Request request(command, m_info.adminId);
    sendAll(request.start());
    std::int64_t deadline = nowMillis() + m_options.timeoutMs;
    while (!request.done()) {
        Wait wait = waitForDatagram(deadline, -1);
        if (wait == Wait::Signal) return kExitSignal + stopSignal();
        if (wait == Wait::Timeout || wait == Wait::Refused) {
            std::fprintf(stderr, "zevadmin: %s\n", noAnswerText("'" + command.line + "'").c_str());
            return kExitNoAnswer;
        }
        std::vector<Bytes> resend;
        request.offer(m_datagram.data(), m_datagram.size(), m_roster, &resend);
        sendAll(resend);
        formatEvent(m_datagram.data(), m_datagram.size(), m_roster, m_eventOptions);
    }
    if (!request.note().empty()) std::fprintf(stderr, "zevadmin: %s\n", request.note().c_str());
    if (request.state() == RequestState::Failed) {
        std::fprintf(stderr, "zevadmin: %s: %s\n", command.line.c_str(), request.message().c_str());
        return kExitRefused;
    }
    if (!request.message().empty()) std::printf("%s\n", request.message().c_str());
    return kExitOk;
}

void Session::logout() {
    if (m_loginSent) m_connection.send(Bytes{kQuit});
    m_loginSent = false;
}

void Session::sendAll(const std::vector<Bytes>& datagrams) {
    for (const Bytes& datagram : datagrams) {
        m_connection.send(datagram);
        m_lastSent = nowMillis();
    }
}

bool Session::keepAliveDue(std::int64_t now) const { return now - m_lastSent >= kKeepAliveMs; }

Session::Wait Session::waitForDatagram(std::int64_t deadline, int input) {
    while (true) {
        if (g_stopSignal != 0) return Wait::Signal;
        Connection::Result result = m_connection.receive(&m_datagram);
        std::int64_t now = nowMillis();
        if (result == Connection::Result::Refused || result == Connection::Result::Failed) {
            return Wait::Refused;
        }
        if (result == Connection::Result::Datagram) {
            m_lastHeard = now;
            bool ping = m_datagram.size() == 1 && m_datagram[0] == kPing;
            if (!ping) return Wait::Datagram;
            sendAll({Bytes{kKeepAlive}});
            continue;
        }
        if (m_lastSent > 0 && keepAliveDue(now)) sendAll({Bytes{kKeepAlive}});
        if (now >= deadline) return Wait::Timeout;
        pollfd fds[2] = {{m_connection.handle(), POLLIN, 0}, {input, POLLIN, 0}};
        std::int64_t wait = deadline - now;
        if (m_lastSent > 0) wait = std::min(wait, m_lastSent + kKeepAliveMs - now);
        int ready =
            poll(fds, input >= 0 ? 2 : 1, static_cast<int>(std::max<std::int64_t>(wait, 0)));
        if (ready < 0 && errno != EINTR) return Wait::Refused;
        if (ready > 0 && input >= 0 && fds[1].revents != 0) return Wait::Input;
    }
}

}  // namespace zevadmin
