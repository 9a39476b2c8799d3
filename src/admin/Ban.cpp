#include "admin/Ban.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "net/ServerInterface.h"

Ban* Ban::s_instance = nullptr;

namespace {

using Octets = std::array<unsigned char, 4>;

// inet_addr gives network order, so the bytes in memory are the octets in written order.
Octets octetsOf(const char* text) {
    in_addr_t address = inet_addr(text);
    Octets octets{};
    std::memcpy(octets.data(), &address, octets.size());
    return octets;
}

bool patternMatches(const Octets& pattern, const Octets& address) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != 0 && pattern[i] != address[i]) return false;
    }
    return true;
}

bool readWhole(int descriptor, std::string& content) {
    char chunk[4096];
    for (;;) {
        ssize_t count = read(descriptor, chunk, sizeof(chunk));
        if (count == 0) return true;
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.append(chunk, static_cast<std::size_t>(count));
    }
}

void logLine(const std::string& text) { Log::getInstance()->writeToLog(text, true, true); }

std::vector<std::string> splitLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

Ban* Ban::getInstance() {
    if (s_instance == nullptr) s_instance = new Ban();
    return s_instance;
}

Ban::~Ban() {
    writeList();
    if (s_instance == this) s_instance = nullptr;
}

Ban::LoadResult Ban::load(const char* fileName) {
    m_fileName = fileName != nullptr ? fileName : "";
    m_writesHeld = false;
    // O_NONBLOCK keeps a FIFO named as the ban file from stalling start-up until a writer comes.
    int descriptor = open(m_fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0 && errno == ENOENT) return LoadResult::Missing;
    struct stat info {};
    std::string content;
    bool loaded = descriptor >= 0 && fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
                  readWhole(descriptor, content);
    if (descriptor >= 0) close(descriptor);
    if (!loaded) {
        // The file may hold bans we could not see; writing our empty list would erase them.
        m_writesHeld = true;
        return LoadResult::Unreadable;
    }
    m_entries = splitLines(content);
    return LoadResult::Loaded;
}

bool Ban::readList(const char* fileName) { return load(fileName) == LoadResult::Loaded; }

bool Ban::writeList(bool reportFailure) {
    if (m_fileName.empty() || m_writesHeld) return false;
    std::string content;
    for (const std::string& entry : m_entries) content.append(entry).push_back('\n');
    if (replaceFileAtomically(m_fileName, content)) {
        if (m_writeFailing) {
            logLine("SERVER: The Banned IP list '" + Log::printable(m_fileName) +
                    "' is saved again.");
        }
        m_writeFailing = false;
        return true;
    }
    ++m_failedWrites;
    // One line for a run of failures (a full disk fails every save until space is freed).
    if (!m_writeFailing && reportFailure) {
        std::string reason = std::strerror(errno);
        logLine("ERROR: Unable to save the Banned IP list '" + Log::printable(m_fileName) +
                "': " + reason +
                ". The file keeps its old list; bans hold in memory until the server stops.");
        m_writeFailing = true;
    }
    return false;
}

bool Ban::addIP(const char* text) {
    if (text == nullptr) return false;
    m_entries.emplace_back(text);
    ++m_bansAdded;
    m_writesHeld = false;
    return writeList();
}

bool Ban::addIP(const sockaddr_in* address) {
    return addIP(ServerInterface::getAsciiAddress(address));
}

bool Ban::addAutomaticIP(const char* text) {
    if (text == nullptr) return false;
    std::int64_t now = Clock::monotonicMillis();
    if (m_automaticBanCount < kMaxAutomaticBans && m_automaticBans.take(now)) {
        ++m_automaticBanCount;
        addIP(text);
        return true;
    }
    ++m_automaticBansSuppressed;
    // One line a second at most, naming how many went unlogged before it.
    if (!m_suppressionLines.take(now)) {
        ++m_unloggedSuppressions;
        return false;
    }
    std::string line = std::string("SERVER-WARNING: Automatic ban of '") + text +
                       "' suppressed: too many automatic bans.";
    if (m_unloggedSuppressions > 0) {
        line += " (" + std::to_string(m_unloggedSuppressions) + " more suppressed before it)";
    }
    m_unloggedSuppressions = 0;
    Log::getInstance()->writeToLog(line, true, true);
    return false;
}

bool Ban::addAutomaticIP(const sockaddr_in* address) {
    return addAutomaticIP(ServerInterface::getAsciiAddress(address));
}

bool Ban::removeIP(const char* text) {
    if (text == nullptr) return false;
    for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
        if (*entry != text) continue;
        m_entries.erase(entry);
        m_writesHeld = false;
        writeList();
        return true;
    }
    return false;
}

bool Ban::removeIP(const sockaddr_in* address) {
    return removeIP(ServerInterface::getAsciiAddress(address));
}

bool Ban::isBanned(const char* text) const {
    if (text == nullptr) return false;
    for (const std::string& entry : m_entries) {
        if (entry == text) return true;
    }
    Octets given = octetsOf(text);
    for (const std::string& entry : m_entries) {
        if (patternMatches(octetsOf(entry.c_str()), given)) return true;
    }
    return false;
}

bool Ban::isBanned(const sockaddr_in* address) const {
    return isBanned(ServerInterface::getAsciiAddress(address));
}

int Ban::readListToBuffer(char* destination, int capacity) const {
    if (destination == nullptr || capacity <= 0) return 0;
    int written = 0;
    for (const std::string& entry : m_entries) {
        std::size_t room = static_cast<std::size_t>(capacity - written);
        if (entry.size() + 1 > room) break;
        std::memcpy(destination + written, entry.data(), entry.size());
        destination[written + static_cast<int>(entry.size())] = '|';
        written += static_cast<int>(entry.size()) + 1;
    }
    return written;
}
