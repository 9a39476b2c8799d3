#include "zevadmin/Request.h"

#include <cstring>
#include <utility>

namespace zevadmin {

namespace {

constexpr int kMaxShutdownRequests = 3;

}  // namespace

Request::Request(Command command, int adminId)
    : m_command(std::move(command)), m_adminId(adminId) {}

std::vector<Bytes> Request::start() const {
    std::vector<Bytes> datagrams{m_command.datagram};
    if (needsBarrier()) datagrams.push_back(Bytes{kBanList});
    return datagrams;
}

bool Request::needsBarrier() const {
    switch (m_command.kind) {
        case CommandKind::Kick:
        case CommandKind::Ban:
        case CommandKind::Ip:
        case CommandKind::Say:
        case CommandKind::Msg:
        case CommandKind::Time:
        case CommandKind::Weather:
        case CommandKind::ResetScores:
        case CommandKind::ResetMoney:
        case CommandKind::AddMoney:
            return true;
        default:
            return false;
    }
}

bool Request::isConfirmation(const unsigned char* data, std::size_t size) const {
    const Bytes& sent = m_command.datagram;
    switch (m_command.kind) {
        case CommandKind::Kick:
        case CommandKind::Ban:
            return size == 3 && data[0] == kPlayerLeft && data[1] == 1 &&
                   data[2] == m_command.playerId;
        case CommandKind::Ip:
            return size >= 2 && data[0] == kPlayerAddress && data[1] == m_command.playerId;
        case CommandKind::Say:
        case CommandKind::Msg:
            return size >= 3 && data[0] == kChat && data[1] == m_adminId &&
                   textAt(data, size, 3) == m_command.text;
        default:
            // The time, the weather, the resets and the added money come back as they were sent.
            return size == sent.size() && std::memcmp(data, sent.data(), size) == 0;
    }
}

bool Request::offer(const unsigned char* data, std::size_t size, const Roster& roster,
                    std::vector<Bytes>* resend) {
    if (done() || size == 0) return false;
    if (!needsBarrier()) return offerReply(data, size, resend);
    if (!m_confirmed && isConfirmation(data, size)) {
        finishConfirmed(data, size, roster);
        return true;
    }
    if (data[0] != kBanList) return false;
    if (m_confirmed) {
        m_state = RequestState::Succeeded;
    } else {
        finishWithoutEffect(roster);
    }
    return true;
}

bool Request::offerReply(const unsigned char* data, std::size_t size, std::vector<Bytes>* resend) {
    unsigned char code = data[0];
    if (m_command.kind == CommandKind::Bans) {
        if (code != kBanList) return false;
        finishBanList(data, size);
        return true;
    }
    if (size < 2) return false;
    int result = data[1];
    switch (m_command.kind) {
        case CommandKind::BanIp:
            return settle(code == kBanAddress, result, banAddressSentence(result, m_command.text));
        case CommandKind::Unban:
            return settle(code == kUnban, result, unbanSentence(result, m_command.text));
        case CommandKind::Password:
            return settle(code == kPassword, result, passwordSentence(result));
        case CommandKind::MotdReload:
            return settle(code == kMotdReload, result, motdReloadSentence(result));
        case CommandKind::MotdSave:
            return offerMotdSave(code, result);
        case CommandKind::Shutdown:
            return offerShutdown(code, result, resend);
        default:
            return false;
    }
}

bool Request::settle(bool isReply, int result, std::string message) {
    if (!isReply) return false;
    finish(result == 1, std::move(message));
    return true;
}

// The save's answer [40, r] comes first, then the reload's [26, r].
bool Request::offerMotdSave(unsigned char code, int result) {
    if (code == kMotdSave && !m_motdSaved) {
        m_motdSaved = true;
        m_message = motdSaveSentence(result);
        m_confirmed = result == 1;
        return true;
    }
    if (code != kMotdReload || !m_motdSaved) return false;
    if (!m_confirmed) {
        fail(m_message);
    } else if (result == 1) {
        succeed("motd.txt saved and the message of the day reloaded");
    } else {
        fail("motd.txt saved, but the server could not load it again");
    }
    return true;
}

// The server stops only at a second request within 4 seconds of the one before; an armed or
// restarted window is answered with that second request at once.
bool Request::offerShutdown(unsigned char code, int result, std::vector<Bytes>* resend) {
    if (code != kShutdown) return false;
    if ((result == 1 || result == 2) && m_shutdownRequests < kMaxShutdownRequests) {
        ++m_shutdownRequests;
        resend->push_back(Bytes{kShutdown});
    } else {
        finish(result == 3, shutdownSentence(result));
    }
    return true;
}

void Request::finishConfirmed(const unsigned char* data, std::size_t size, const Roster& roster) {
    m_confirmed = true;
    switch (m_command.kind) {
        case CommandKind::Kick:
            m_message = "kicked " + roster.name(m_command.playerId);
            break;
        case CommandKind::Ban:
            m_message = "banned " + roster.name(m_command.playerId) + " and the address";
            break;
        case CommandKind::Ip:
            m_message = printable(textAt(data, size, 2));
            break;
        case CommandKind::Say:
            m_message = "chat sent: " + printable(m_command.text);
            break;
        case CommandKind::Msg:
            m_message = "private message sent (the server does not tell whether anyone got it)";
            break;
        case CommandKind::Time:
            m_message = "game time set to " + std::to_string(m_command.hour) + ":" +
                        (m_command.minute < 10 ? "0" : "") + std::to_string(m_command.minute);
            break;
        case CommandKind::Weather:
            m_message = std::string("weather set to ") + weatherName(m_command.weather);
            break;
        case CommandKind::ResetScores:
            m_message = "scores reset";
            break;
        case CommandKind::ResetMoney:
            m_message = "money reset";
            break;
        default:
            m_message = "added " + std::to_string(m_command.amount) + " to every player's money";
            break;
    }
}

void Request::finishWithoutEffect(const Roster& roster) {
    switch (m_command.kind) {
        case CommandKind::Kick:
        case CommandKind::Ban:
        case CommandKind::Ip:
            return fail("no player with id " + std::to_string(m_command.playerId) +
                        (roster.size() == 0 ? " (no players are in the game)" : ""));
        case CommandKind::Weather:
            // With random weather off the server keeps the value for new players, silently.
            return succeed(std::string("weather set to ") + weatherName(m_command.weather) +
                           " (random weather is off, so only joining players are told)");
        case CommandKind::Say:
        case CommandKind::Msg:
            return fail("the server did not relay the chat line");
        default:
            return fail("the server did not announce the change");
    }
}

void Request::finishBanList(const unsigned char* data, std::size_t size) {
    std::string lines;
    for (const std::string& entry : banListEntries(data, size)) lines += entry + "\n";
    if (!lines.empty()) lines.pop_back();
    if (banListMayBeCut(size)) {
        m_note = "the server's reply holds at most 1023 bytes of entries; the list may go on";
    }
    succeed(lines);
}

void Request::finish(bool success, std::string message) {
    m_message = std::move(message);
    m_state = success ? RequestState::Succeeded : RequestState::Failed;
}

void Request::succeed(std::string message) {
    m_message = std::move(message);
    m_state = RequestState::Succeeded;
}

void Request::fail(std::string message) {
    m_message = std::move(message);
    m_state = RequestState::Failed;
}

}  // namespace zevadmin
