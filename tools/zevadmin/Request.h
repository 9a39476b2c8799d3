// One command on its way through the server: what it sends, which of the datagrams that come
// back belong to it, and what its outcome is. No sockets or clocks here; the session feeds it.
//
// Commands with a reply of their own (bans, ban-ip, unban, password, the motd commands,
// shutdown) end with that reply. The others have no reply when they have no effect (an unknown
// player id, a weather change the server stores without announcing), so a ban-list request
// follows them as a barrier: the server handles an admin's datagrams in order, and when the
// barrier's answer arrives before the announcement of the effect, there was none.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "zevadmin/Command.h"
#include "zevadmin/Events.h"

namespace zevadmin {

enum class RequestState { Waiting, Succeeded, Failed };

class Request {
public:
    // `adminId` is this session's own id, which the chat echo carries.
    Request(Command command, int adminId);

    // The datagrams to send to start: the command, then the barrier when it needs one.
    std::vector<Bytes> start() const;

    // Offers one datagram from the server. True when it belongs to this request, which may have
    // ended with it; `resend` gets the datagrams to send next (the second shutdown request).
    // `roster` names players in the outcome and is read before the datagram changes it.
    bool offer(const unsigned char* data, std::size_t size, const Roster& roster,
               std::vector<Bytes>* resend);

    RequestState state() const { return m_state; }
    bool done() const { return m_state != RequestState::Waiting; }
    // The outcome; for a successful `bans`, one entry a line (empty for an empty list).
    const std::string& message() const { return m_message; }
    // A remark for the operator beside the outcome (a ban list that may be cut); often empty.
    const std::string& note() const { return m_note; }
    const Command& command() const { return m_command; }

private:
    bool needsBarrier() const;
    bool isConfirmation(const unsigned char* data, std::size_t size) const;
    bool offerReply(const unsigned char* data, std::size_t size, std::vector<Bytes>* resend);
    // Ends the request with a one-byte result (1 is success) when `isReply`.
    bool settle(bool isReply, int result, std::string message);
    bool offerMotdSave(unsigned char code, int result);
    bool offerShutdown(unsigned char code, int result, std::vector<Bytes>* resend);
    void finishConfirmed(const unsigned char* data, std::size_t size, const Roster& roster);
    void finishWithoutEffect(const Roster& roster);
    void finishBanList(const unsigned char* data, std::size_t size);
    void finish(bool success, std::string message);
    void succeed(std::string message);
    void fail(std::string message);

    Command m_command;
    int m_adminId;
    RequestState m_state = RequestState::Waiting;
    std::string m_message;
    std::string m_note;
    bool m_confirmed = false;
    int m_shutdownRequests = 1;
    bool m_motdSaved = false;
};

}  // namespace zevadmin
