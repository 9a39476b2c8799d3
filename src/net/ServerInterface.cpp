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
    if (count > 0) m_bytesRead += count;
    return static_cast<int>(count);
}

void ServerInterface::dropDatagram(int length) {
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
    if (sent > 0) {
        m_bytesSent += sent;
        m_bytesSentSinceReset += static_cast<std::uint32_t>(sent);
        m_bytesSentOrDroppedSinceReset += static_cast<std::uint32_t>(sent);
    }
    return sent;
}

int ServerInterface::transmit(const sockaddr_in* destination, const unsigned char* data,
                              int length) {
    ssize_t sent = sendto(m_socketHandle, data, static_cast<std::size_t>(length), 0,
                          reinterpret_cast<const sockaddr*>(destination), sizeof(*destination));
    return static_cast<int>(sent);
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
