#include "SessionFixture.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admin/Ban.h"
#include "admin/WarnList.h"
#include "core/Clock.h"
#include "core/Conf.h"
#include "game/PlayerList.h"
#include "game/VehicleList.h"
#include "net/Envelope.h"

namespace fuzz {

namespace {

bool g_motdPresent = false;
bool g_motdDirty = true;

void setFlag(const char* key, bool on) { Conf::getInstance()->addConfEntry(key, on ? "1" : "0"); }

// Every input starts from the same ban list and a fresh Ban, whose limits on automatic bans
// must not carry over from one input to the next. The file is rewritten, with a plain write and
// no sync, only when the last input changed the list.
void restoreBanList() {
    static const std::vector<std::string> kEntries = {"10.9.0.0", "1.2.3.4"};
    const std::string path = scratchPath("banned.txt");
    Ban* ban = Ban::getInstance();
    bool unchanged = ban->getFileName() == path && ban->getEntries() == kEntries;
    // Forgetting the file name first keeps the destructor from writing the list.
    ban->load("");
    delete ban;
    if (!unchanged && !writeFile(path, kBanFileContent, std::strlen(kBanFileContent))) {
        fail(__FILE__, __LINE__, "cannot write the ban file");
    }
    ban = Ban::getInstance();
    FUZZ_CHECK(ban->load(path.c_str()) == Ban::LoadResult::Loaded);
    FUZZ_CHECK(ban->getEntries() == kEntries);
}

void restoreMotd(bool present) {
    if (present == g_motdPresent && !g_motdDirty) return;
    if (present) {
        if (!writeFile("motd.txt", kMotdContent, std::strlen(kMotdContent))) {
            fail(__FILE__, __LINE__, "cannot write motd.txt");
        }
    } else {
        unlink("motd.txt");
    }
    g_motdPresent = present;
    g_motdDirty = false;
}

void appendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

sockaddr_in playerAddress(int index) {
    return address(10, 0, 0, static_cast<std::uint8_t>(1 + index),
                   static_cast<std::uint16_t>(5001 + index));
}

sockaddr_in newcomerAddress(int index) {
    switch (index) {
        case 0:
            return address(10, 0, 1, 1, 6001);
        case 1:
            return address(10, 0, 1, 1, 6002);
        case 2:
            return address(10, 0, 1, 2, 6001);
        default:
            return address(10, 9, 8, 7, 6001);
    }
}

sockaddr_in adminAddress(int index) {
    switch (index) {
        case 0:
            return address(10, 0, 2, 1, 7001);
        case 1:
            return address(10, 0, 2, 1, 7002);
        case 2:
            return address(10, 0, 2, 2, 7001);
        default:
            return address(10, 9, 8, 7, 7001);
    }
}

std::vector<std::uint8_t> joinRequest(const std::string& nick, const std::string& password) {
    std::vector<std::uint8_t> out = {1, '2', 0};
    appendU32(out, GameSession::kCheckValue);
    out.insert(out.end(), nick.begin(), nick.end());
    out.push_back('|');
    out.insert(out.end(), password.begin(), password.end());
    out.push_back(0);
    return out;
}

std::vector<std::uint8_t> adminLogin(int level, const std::string& nick,
                                     const std::string& password) {
    std::vector<std::uint8_t> out = {13, '0', static_cast<std::uint8_t>(level)};
    out.insert(out.end(), nick.begin(), nick.end());
    out.push_back('|');
    out.insert(out.end(), password.begin(), password.end());
    out.push_back(0);
    return out;
}

void SessionFixture::setUpProcess(int argc, char** argv) {
    // libFuzzer opens its inputs and writes its crash files relative to the working directory,
    // which is about to change.
    bool absoluteArtifacts = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strncmp(argument, "-artifact_prefix=/", 18) == 0) absoluteArtifacts = true;
        if (argument[0] == '-' || argument[0] == '/') continue;
        std::fprintf(stderr, "%s works in a scratch folder: give '%s' as an absolute path\n",
                     argv[0], argument);
        std::exit(2);
    }
    quietProcess();
    enterScratchFolder();
    if (!absoluteArtifacts) {
        std::fprintf(stderr, "note: without an absolute -artifact_prefix, crash files go to %s\n",
                     scratchFolder().c_str());
    }
    Conf* conf = Conf::getInstance();
    conf->addConfEntry("ServerName", "\"Fuzz Server\"");
    conf->addConfEntry("ServerPort", "4000");
    conf->addConfEntry("MaxPlayers", std::to_string(kMaxPlayers));
    conf->addConfEntry("GameHour", "12");
    conf->addConfEntry("GameMins", "30");
    conf->addConfEntry("BannedFile", scratchPath("banned.txt"));
    conf->addConfEntry("AdminPassword", kAdminPassword);
    conf->addConfEntry("AdminPlusPassword", kAdminPlusPassword);
    conf->addConfEntry("MOTDURL", "http://motd.invalid/today");
}

SessionFixture::SessionFixture(const SessionOptions& options) {
    resetTime();
    ResetWarnList();
    restoreBanList();
    restoreMotd(options.motdFile);

    Conf* conf = Conf::getInstance();
    conf->addConfEntry("GameMap", std::to_string(options.map));
    setFlag("Testmode", options.testmode);
    setFlag("StatLogging", options.statLogging);
    setFlag("DebugOutput", options.debugOutput);
    setFlag("RandomWeather", options.randomWeather);
    setFlag("BanOnChatFlood", options.banOnChatFlood);
    setFlag("AdminAllowShutdown", options.allowShutdown);
    setFlag("DoNotOutputChatToLog", !options.chatToLog);
    conf->addConfEntry("ServerPassword", options.serverPasswordKey ? kServerPassword : "");

    m_game = std::make_unique<CountingEndpoint>(true);
    m_admin = std::make_unique<CountingEndpoint>(false);
    m_session = std::make_unique<GameSession>(*m_game, *m_admin);
    m_session->setPasswordRequired(options.passwordRequired);
    m_session->setAdminPlusEnabled(options.adminPlus);
    if (options.motdFile) FUZZ_CHECK(m_session->loadMessageOfTheDay());
}

SessionFixture::~SessionFixture() {
    m_session.reset();
    FUZZ_CHECK(PlayerList::getInstance()->getPlayerCount() == 0);
    delete VehicleList::getInstance();
}

void SessionFixture::joinPlayers(int count) {
    for (int i = 0; i < count; ++i) {
        sockaddr_in from = playerAddress(i);
        deliverGame(from, joinRequest(kPlayerNicks[i], kServerPassword), false);
        FUZZ_CHECK(PlayerList::getInstance()->getPlayerID(&from) == i);
    }
}

void SessionFixture::loginAdmin(int level, const char* nick) {
    sockaddr_in from = adminAddress(0);
    deliverAdmin(from, adminLogin(level, nick, level == 2 ? kAdminPlusPassword : kAdminPassword));
    FUZZ_CHECK(m_session->getAdminList().getPlayerID(&from) >= 0);
}

void SessionFixture::deliverGame(const sockaddr_in& from, const std::vector<std::uint8_t>& datagram,
                                 bool sealed) {
    if (datagram.empty()) return;
    HeapBytes buffer(datagram);
    int received = static_cast<int>(buffer.size());
    int length = received;
    if (sealed) {
        length = m_session->decryptUniqueData(&from, buffer.data(), received);
        if (length == -1) length = m_session->decryptGeneralData(buffer.data(), received);
        FUZZ_CHECK(length == 0 || (length > 0 && length <= received - 2));
        if (length <= 0) return;
    }
    if (tracing()) {
        std::fprintf(stderr, "game %s:%d%s: %d bytes, code %d\n",
                     ServerInterface::getAsciiAddress(&from), ntohs(from.sin_port),
                     sealed ? " sealed" : "", length, static_cast<signed char>(buffer.data()[0]));
    }
    HeapBytes payload(buffer.data() + 1, static_cast<std::size_t>(length - 1));
    m_session->processCommand(static_cast<signed char>(buffer.data()[0]), payload.data(), &from,
                              length);
}

void SessionFixture::deliverAdmin(const sockaddr_in& from,
                                  const std::vector<std::uint8_t>& datagram) {
    if (datagram.empty()) return;
    if (tracing()) {
        std::fprintf(stderr, "admin %s:%d: %zu bytes, code %d\n",
                     ServerInterface::getAsciiAddress(&from), ntohs(from.sin_port), datagram.size(),
                     static_cast<signed char>(datagram[0]));
    }
    // Saving the message of the day rewrites "motd.txt".
    if (datagram[0] == 40) g_motdDirty = true;
    HeapBytes payload(datagram.data() + 1, datagram.size() - 1);
    m_session->processAdminCommand(static_cast<signed char>(datagram[0]), payload.data(), &from,
                                   static_cast<int>(datagram.size()));
}

void SessionFixture::tick(std::uint8_t selector) {
    if (tracing()) std::fprintf(stderr, "tick 0x%02X\n", selector);
    Clock::advanceMillis(1000);
    GameSession& s = *m_session;
    s.handleChatFloodingPlayers(2);
    s.resetChatFloodCountForAllPlayers();
    s.handleJoinFloodingPlayers();
    s.removeTimedOutPlayers(15);
    s.updateAllPlayerTimeouts(1 + ((selector >> 3) & 7) * 4);
    s.pingAllPlayers();
    if ((selector & 1) != 0) s.handleClientCRCForAllPlayers();
    if ((selector & 2) != 0) s.sendTime();
    if ((selector & 4) != 0) s.sendWeather();
    s.tickClock();
}

}  // namespace fuzz
