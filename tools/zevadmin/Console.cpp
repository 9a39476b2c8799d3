// The interactive mode of Session: commands from a stream, events as they come.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "zevadmin/Request.h"
#include "zevadmin/Session.h"

namespace zevadmin {

struct Session::Pending {
    Request request;
    std::int64_t deadline;
};

namespace {

// The server pings every second, so this long without a datagram means the session is gone.
constexpr std::int64_t kSilenceMs = 20000;
// A line this long without a line end is handled as it is rather than buffered on.
constexpr std::size_t kMaxLine = 4096;

void printLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void noteFailure(int* status, int failure) {
    if (*status == kExitOk) *status = failure;
}

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

void printOutcome(const Request& request) {
    std::string message = request.message();
    if (request.command().kind == CommandKind::Bans) {
        for (char& c : message) {
            if (c == '\n') c = ' ';
        }
        if (message.empty()) message = "none";
    }
    const std::string& line = request.command().line;
    if (request.state() == RequestState::Succeeded) {
        printLine(line + ": " + message);
    } else {
        printLine("error: " + line + ": " + message);
    }
    if (!request.note().empty()) printLine("note: " + request.note());
}

}  // namespace

int Session::runInteractive(int input) {
    for (const std::string& line : formatLogin(m_info, m_options.nick, m_options.level)) {
        printLine(line);
    }
    if (isatty(input)) printLine("type help for the commands, quit to leave");
    std::vector<Pending> pending;
    int status = kExitOk;
    bool reading = true;
    std::string buffer;
    while (reading || !pending.empty()) {
        std::int64_t deadline = m_lastHeard + kSilenceMs;
        for (const Pending& waiting : pending) deadline = std::min(deadline, waiting.deadline);
        Wait wait = waitForDatagram(deadline, reading ? input : -1);
        if (wait == Wait::Signal) return kExitSignal + stopSignal();
        if (wait == Wait::Datagram) {
            bool claimed = offerToPending(&pending, &status);
            std::string line =
                formatEvent(m_datagram.data(), m_datagram.size(), m_roster, m_eventOptions);
            if (!claimed && !line.empty()) printLine(line);
        }
        if (wait == Wait::Input) reading = readCommands(input, &buffer, &pending, &status);
        expirePending(&pending, &status);
        if (wait == Wait::Refused || nowMillis() - m_lastHeard >= kSilenceMs) {
            printLine("error: lost contact with the server at " + m_connection.peer());
            return kExitNoAnswer;
        }
    }
    return status;
}

bool Session::readCommands(int input, std::string* buffer, std::vector<Pending>* pending,
                           int* status) {
    char chunk[1024];
    ssize_t n = read(input, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) return true;
    bool open = n > 0;
    if (open) {
        buffer->append(chunk, static_cast<std::size_t>(n));
    } else if (!buffer->empty()) {
        buffer->push_back('\n');  // the last line may lack its line end
    }
    while (true) {
        std::size_t end = buffer->find('\n');
        if (end == std::string::npos && buffer->size() < kMaxLine) return open;
        if (end == std::string::npos) end = buffer->size();
        std::string line = buffer->substr(0, end);
        buffer->erase(0, std::min(end + 1, buffer->size()));
        if (!handleLine(line, pending, status)) return false;
    }
}

bool Session::handleLine(const std::string& line, std::vector<Pending>* pending, int* status) {
    std::vector<std::string> words = splitWords(line);
    if (words.empty()) return true;
    if (words[0] == "quit" || words[0] == "exit") return false;
    if (words[0] == "help") {
        std::fputs(kCommandHelp, stdout);
        std::fflush(stdout);
        return true;
    }
    if (words[0] == "pings" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        m_eventOptions.showPings = words[1] == "on";
        printLine(m_eventOptions.showPings ? "ping reports shown" : "ping reports hidden");
        return true;
    }
    Command command;
    std::string error;
    if (!parseCommand(words, &command, &error) || !completeCommand(&command, &error)) {
        printLine("error: " + error);
        noteFailure(status, kExitUsage);
        return true;
    }
    Request request(command, m_info.adminId);
    sendAll(request.start());
    pending->push_back(Pending{request, nowMillis() + m_options.timeoutMs});
    return true;
}

bool Session::offerToPending(std::vector<Pending>* pending, int* status) {
    for (auto it = pending->begin(); it != pending->end(); ++it) {
        std::vector<Bytes> resend;
        if (!it->request.offer(m_datagram.data(), m_datagram.size(), m_roster, &resend)) continue;
        sendAll(resend);
        if (it->request.done()) {
            printOutcome(it->request);
            if (it->request.state() == RequestState::Failed) noteFailure(status, kExitRefused);
            pending->erase(it);
        }
        return true;
    }
    return false;
}

void Session::expirePending(std::vector<Pending>* pending, int* status) {
    std::int64_t now = nowMillis();
    for (auto it = pending->begin(); it != pending->end();) {
        if (it->deadline > now) {
            ++it;
            continue;
        }
        printLine("error: " + noAnswerText("'" + it->request.command().line + "'"));
        noteFailure(status, kExitNoAnswer);
        it = pending->erase(it);
    }
}

}  // namespace zevadmin
