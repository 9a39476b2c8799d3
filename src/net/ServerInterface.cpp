#include "net/ServerInterface.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "core/Conf.h"
#include "core/Log.h"

namespace {

void logLine(const std::string& text) { Log::getInstance()->writeToLog(text, true, true); }

}  // namespace

ServerInterface::ServerInterface() {
    Conf* conf = Conf::getInstance();
    if (conf->getConfEntryValueAsInt("ServerSendLimitEnabled") == 1) {
        m_sendLimit = static_cast<std::uint32_t>(conf->getConfEntryValueAsInt("ServerSendLimit"));
        m_sendLimitEnabled = m_sendLimit != 0;
    }
    // A missing or negative maximum becomes a huge unsigned value that is never reached.
    m_sendLimitMaxAllowed =
        static_cast<std::uint32_t>(conf->getConfEntryValueAsInt("ServerSendLimitMaxAllowed"));
}

ServerInterface::~ServerInterface() { stopListening(); }

bool ServerInterface::startListening(int port, const char* address) {
    if (m_listening) stopListening();
    if (port <= 0) return false;
    if (port > 65535) {
        logLine("ERROR: Port " + std::to_string(port) + " is out of range.");
        return false;
    }
    m_bytesRead = 0;
    m_bytesSent = 0;

    m_socketHandle = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socketHandle < 0) {
        logLine("ERROR: Unable to get an open socket.");
        return false;
    }
    m_localAddress = sockaddr_in{};
    m_localAddress.sin_family = AF_INET;
    m_localAddress.sin_addr.s_addr = address != nullptr ? inet_addr(address) : htonl(INADDR_ANY);
    m_localPort = port;
    m_localAddress.sin_port = htons(static_cast<std::uint16_t>(port));

    // Text that is no address converts to 255.255.255.255, which Linux would let us bind.
    bool unusable = m_localAddress.sin_addr.s_addr == INADDR_NONE;
    if (unusable || bind(m_socketHandle, reinterpret_cast<const sockaddr*>(&m_localAddress),
                         sizeof(m_localAddress)) != 0) {
        logLine(
            "ERROR: Unable to bind to the socket. Check that no other instances of ZEVServer.exe "
            "are running and try again.");
        close(m_socketHandle);
        m_socketHandle = -1;
        return false;
    }
    m_listening = true;
    return true;
}

bool ServerInterface::stopListening() {
    if (m_listening) {
        close(m_socketHandle);
        m_socketHandle = -1;
        m_listening = false;
    }
    return true;
}

bool ServerInterface::hasDataArrived(int timeoutMicros) {
    if (!m_listening) return false;
    pollfd entry{m_socketHandle, POLLIN, 0};
    timespec timeout{0, static_cast<long>(timeoutMicros) * 1000};
    return ppoll(&entry, 1, &timeout, nullptr) == 1 && (entry.revents & POLLIN) != 0;
}

int ServerInterface::readData(sockaddr_in* sender, unsigned char* buffer, int size) {
    if (!m_listening) return 0;
    socklen_t senderLength = sizeof(*sender);
    ssize_t count = recvfrom(m_socketHandle, buffer, static_cast<std::size_t>(size), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(sender), &senderLength);
    if (count >= 0) {
        m_bytesRead += count;
        ++m_datagramsRead;
    }
    return static_cast<int>(count);
}

void ServerInterface::countSent(int bytes) {
    m_bytesSent += bytes;
    ++m_datagramsSent;
    m_bytesSentSinceReset += static_cast<std::uint32_t>(bytes);
    m_bytesSentOrDroppedSinceReset += static_cast<std::uint32_t>(bytes);
}

void ServerInterface::dropDatagram(int length) {
    ++m_datagramsDropped;
    m_bytesDropped += length;
    m_bytesSentOrDroppedSinceReset += static_cast<std::uint32_t>(length);
    if (Conf::getInstance()->getConfEntryValueAsInt("ServerSendLimitLogDropped") == 1) {
        logLine("SERVER-WARNING: " + std::to_string(length) +
                " bytes dropped due to exceeding limit.");
    }
    if (m_sendLimitMaxAllowed != 0 && m_bytesSentOrDroppedSinceReset > m_sendLimitMaxAllowed) {
        logLine(
            "SERVER-ERROR: Maximum allowed send limit (sent/dropped) per reset hit.  Server will "
            "shut down.");
        stopListening();
    }
}

int ServerInterface::sendData(const sockaddr_in* destination, const unsigned char* data,
                              int length) {
    // The limit is tested before sending, so the datagram that crosses it still goes out whole.
    if (m_sendLimitEnabled && m_bytesSentSinceReset >= m_sendLimit) {
        dropDatagram(length);
        return 0;
    }
    int sent = transmit(destination, data, length);
    if (sent > 0) countSent(sent);
    return sent;
}

int ServerInterface::transmit(const sockaddr_in* destination, const unsigned char* data,
                              int length) {
    ssize_t sent = sendto(m_socketHandle, data, static_cast<std::size_t>(length), 0,
                          reinterpret_cast<const sockaddr*>(destination), sizeof(*destination));
    return static_cast<int>(sent);
}

int ServerInterface::readBatch(ReceivedDatagram* datagrams, int max) {
    if (!m_listening || max <= 0) return 0;
    constexpr int kMaxBatch = 64;
    if (max > kMaxBatch) max = kMaxBatch;
    mmsghdr messages[kMaxBatch];
    iovec vectors[kMaxBatch];
    for (int i = 0; i < max; ++i) {
        vectors[i] = iovec{datagrams[i].data, sizeof(datagrams[i].data)};
        messages[i] = mmsghdr{};
        messages[i].msg_hdr.msg_name = &datagrams[i].from;
        messages[i].msg_hdr.msg_namelen = sizeof(datagrams[i].from);
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int count =
        recvmmsg(m_socketHandle, messages, static_cast<unsigned>(max), MSG_DONTWAIT, nullptr);
    if (count <= 0) return 0;
    for (int i = 0; i < count; ++i) {
        datagrams[i].length = static_cast<int>(messages[i].msg_len);
        m_bytesRead += datagrams[i].length;
    }
    m_datagramsRead += static_cast<std::uint64_t>(count);
    return count;
}

void ServerInterface::sendBatch(const OutgoingDatagram* datagrams, int count) {
    // Datagrams are gathered until the limit could be reached; then what is gathered goes out
    // first, so each drop decision sees exactly the bytes sent before it.
    int start = 0;
    std::uint32_t gathered = 0;
    for (int i = 0; i < count; ++i) {
        if (!m_sendLimitEnabled || m_bytesSentSinceReset + gathered < m_sendLimit) {
            gathered += static_cast<std::uint32_t>(datagrams[i].length);
            continue;
        }
        sendCounted(datagrams + start, i - start);
        start = i + 1;
        gathered = 0;
        if (m_bytesSentSinceReset >= m_sendLimit) {
            dropDatagram(datagrams[i].length);
        } else {
            sendCounted(datagrams + i, 1);
        }
    }
    sendCounted(datagrams + start, count - start);
}

void ServerInterface::sendCounted(const OutgoingDatagram* datagrams, int count) {
    constexpr int kChunk = 64;
    int sent[kChunk];
    for (int offset = 0; offset < count; offset += kChunk) {
        int chunk = count - offset < kChunk ? count - offset : kChunk;
        transmitBatch(datagrams + offset, chunk, sent);
        for (int i = 0; i < chunk; ++i) {
            if (sent[i] > 0) countSent(sent[i]);
        }
    }
}

void ServerInterface::transmitBatch(const OutgoingDatagram* datagrams, int count, int* sent) {
    constexpr int kChunk = 64;
    mmsghdr messages[kChunk];
    iovec vectors[kChunk];
    for (int i = 0; i < count && i < kChunk; ++i) {
        vectors[i] = iovec{const_cast<unsigned char*>(datagrams[i].data),
                           static_cast<std::size_t>(datagrams[i].length)};
        messages[i] = mmsghdr{};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&datagrams[i].to);
        messages[i].msg_hdr.msg_namelen = sizeof(datagrams[i].to);
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        sent[i] = -1;
    }
    int done = 0;
    while (done < count && done < kChunk) {
        int result =
            sendmmsg(m_socketHandle, messages + done, static_cast<unsigned>(count - done), 0);
        if (result <= 0) {
            // The first message failed; the others may still go.
            ++done;
            continue;
        }
        for (int i = done; i < done + result; ++i) sent[i] = static_cast<int>(messages[i].msg_len);
        done += result;
    }
}

void ServerInterface::resetBytesSentSinceReset() {
    m_bytesSentSinceReset = 0;
    m_bytesSentOrDroppedSinceReset = 0;
}

const char* ServerInterface::getServerIP() const { return getAsciiAddress(&m_localAddress); }

const char* ServerInterface::getAsciiAddress(const sockaddr_in* address) {
    static char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) == nullptr) text[0] = '\0';
    return text;
}
