// Floods from many loopback source addresses at once: each sending socket is bound to an
// address of its own in 127.0.0.0/8, so the server sees as many sources as a forged flood
// would show it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TestClient.h"
#include "support/UdpPeer.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The loopback address of source `index`: 127.x.y.z from 127.<firstBlock>.0.1 on, 62,500 to a
// block, never ending in 0 or 255.
std::string sourceAddress(int firstBlock, int index) {
    return "127." + std::to_string(firstBlock + index / 62500) + "." +
           std::to_string(index / 250 % 250) + "." + std::to_string(index % 250 + 1);
}

bool isStatusReply(const Bytes& datagram) {
    return datagram.size() > 4 &&
           Bytes(datagram.begin(), datagram.begin() + 4) == Bytes{'E', 'Y', 'E', '1'};
}

// Resident memory of `pid` in kilobytes, -1 when unknown.
long residentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Waits until the server has read what was sent to `ports`, so that a flood is handled rather
// than dropped from a full socket buffer.
void waitForDrain(const std::vector<std::uint16_t>& ports) {
    auto deadline = SteadyClock::now() + std::chrono::seconds(5);
    auto drained = [&] {
        for (std::uint16_t port : ports) {
            if (udpReceiveQueue(port) > 16 * 1024) return false;
        }
        return true;
    };
    while (!drained() && SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Sets an environment variable for the servers started during its lifetime.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (m_had) {
            setenv(m_name, m_old.c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

}  // namespace

// 5,000 one-byte status queries a second for ten seconds, from 1,000 sources that each come
// back five times a second on average. The server answers them with fewer bytes than they carry,
// and a browser that refreshes once a second from its own address is answered every time.
TEST(Flood, StatusFloodIsNotAmplifiedAndABrowserIsStillAnswered) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    config.entries["ASE"] = "1";
    server.writeConfig(config);
    server.dir().write("banned.txt", "");
    ASSERT_TRUE(server.startAndWaitReady()) << server.consoleText();
    const std::uint16_t queryPort = static_cast<std::uint16_t>(config.gamePort() + 123);

    constexpr int kSources = 1000;
    std::vector<std::unique_ptr<UdpPeer>> sources;
    for (int i = 0; i < kSources; ++i) {
        sources.push_back(std::make_unique<UdpPeer>(sourceAddress(20, i)));
        ASSERT_TRUE(sources.back()->ok()) << sourceAddress(20, i);
    }

    std::atomic<bool> flooding{false};
    std::atomic<bool> done{false};
    int askedDuringFlood = 0;
    int answeredDuringFlood = 0;
    int answeredBefore = 0;
    std::thread browser([&] {
        UdpPeer peer("127.0.0.2");
        auto next = SteadyClock::now();
        while (!done) {
            bool during = flooding;
            bool answered = false;
            if (peer.sendTo(queryPort, Bytes{'s'})) {
                Bytes reply;
                answered = peer.receive(reply, 900) && isStatusReply(reply);
            }
            if (during) {
                ++askedDuringFlood;
                answeredDuringFlood += answered ? 1 : 0;
            } else if (!flooding) {
                answeredBefore += answered ? 1 : 0;
            }
            next += std::chrono::seconds(1);
            std::this_thread::sleep_until(next);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    flooding = true;
    constexpr int kSeconds = 10;
    constexpr int kPerMillisecond = 5;
    long floodSent = 0;
    // In random order: a strict rotation gives every source the same phase, which leaves gaps
    // in the flood that a browser could slip through by luck.
    std::mt19937 random(5000);
    auto start = SteadyClock::now();
    for (int tick = 0; tick < kSeconds * 1000; ++tick) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(tick));
        for (int i = 0; i < kPerMillisecond; ++i) {
            floodSent += sources[random() % kSources]->sendTo(queryPort, Bytes{'s'}) ? 1 : 0;
        }
    }
    double floodSeconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    flooding = false;
    done = true;
    browser.join();

    long floodReceived = 0;
    long repliesReceived = 0;
    for (auto& source : sources) {
        Bytes reply;
        while (source->receive(reply, 0)) {
            floodReceived += static_cast<long>(reply.size());
            ++repliesReceived;
        }
    }
    RecordProperty("flood_seconds", std::to_string(floodSeconds));
    RecordProperty("flood_bytes_sent", std::to_string(floodSent));
    RecordProperty("flood_bytes_received", std::to_string(floodReceived));
    RecordProperty("flood_replies", std::to_string(repliesReceived));
    EXPECT_EQ(floodSent, kSeconds * 1000L * kPerMillisecond);
    EXPECT_LE(floodReceived, floodSent);
    EXPECT_GE(answeredBefore, 2);
    EXPECT_GE(askedDuringFlood, kSeconds - 1);
    EXPECT_EQ(answeredDuringFlood, askedDuringFlood);
}

// 100,000 sources, each sending once to every port: a join request and a garbage envelope to the
// game port, a login with a wrong password to the admin port and a status query to the query
// port. Every table the server keeps per source is bounded, so its memory stops growing once
// they are full, and the server still serves.
TEST(Flood, MemoryStaysBoundedUnderAHundredThousandSources) {
    // In a sanitized build freed memory is held back to catch late uses, and would be counted
    // as growth; it changes nothing in a normal build.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    ScopedEnvironment noQuarantine(
        "ASAN_OPTIONS",
        std::string(asanOptions == nullptr ? "" : asanOptions) + ":quarantine_size_mb=0");
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    const std::uint16_t adminPort = pickFreeUdpPort();
    config.entries["AdminServer"] = "1";
    config.entries["AdminPort"] = std::to_string(adminPort);
    config.entries["AdminPassword"] = "right";
    config.entries["ASE"] = "1";
    server.writeConfig(config);
    server.dir().write("banned.txt", "");
    ASSERT_TRUE(server.startDetached()) << server.consoleText() << server.logText();
    const pid_t daemon = server.findDaemon();
    const std::uint16_t gamePort = config.gamePort();
    const std::uint16_t queryPort = static_cast<std::uint16_t>(gamePort + 123);

    const Bytes garbage(48, 0x5A);
    const Bytes wrongLogin = {13, '0', 1, 'O', 'p', '|', 'w', 'r', 'o', 'n', 'g', 0};
    std::size_t gameBytes = 0;
    auto flood = [&](int first, int last) {
        constexpr int kBatch = 50;
        for (int i = first; i < last; ++i) {
            UdpPeer peer(sourceAddress(30, i));
            ASSERT_TRUE(peer.ok()) << sourceAddress(30, i);
            Bytes join = TestClient::seal(TestClient::kDefaultGeneralKey,
                                          TestClient::joinRequest("n" + std::to_string(i)));
            peer.sendTo(gamePort, join);
            peer.sendTo(gamePort, garbage);
            peer.sendTo(adminPort, wrongLogin);
            peer.sendTo(queryPort, Bytes{'s'});
            gameBytes += join.size() + garbage.size();
            if (i % kBatch == kBatch - 1) waitForDrain({gamePort, adminPort, queryPort});
        }
        waitForDrain({gamePort, adminPort, queryPort});
    };

    const long atStart = residentKilobytes(daemon);
    constexpr int kWarmUp = 20000;
    constexpr int kSources = 100000;
    flood(0, kWarmUp);
    const long warm = residentKilobytes(daemon);
    flood(kWarmUp, kSources);
    const long atEnd = residentKilobytes(daemon);
    RecordProperty("rss_start_kb", std::to_string(atStart));
    RecordProperty("rss_after_warm_up_kb", std::to_string(warm));
    RecordProperty("rss_end_kb", std::to_string(atEnd));
    ASSERT_GT(atStart, 0);
    // A table that grew with its sources would add several megabytes over the last 80,000.
    EXPECT_LT(atEnd - warm, 2 * 1024);
    EXPECT_LT(atEnd - atStart, 16 * 1024);

    // Password checks are rate-limited, so the rightful admin waits out the flood's second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    UdpPeer admin("127.0.0.1");
    ASSERT_TRUE(admin.sendTo(
        adminPort, Bytes{13, '0', 1, 'B', 'o', 's', 's', '|', 'r', 'i', 'g', 'h', 't', 0}));
    Bytes reply;
    ASSERT_TRUE(admin.receive(reply, 3000));
    EXPECT_EQ(reply[0], 1);

    ASSERT_TRUE(server.stopDaemon());
    // Every game datagram was read, not dropped from a full socket buffer.
    std::string received =
        "SERVER: A total of " + std::to_string(gameBytes) + " bytes were received";
    EXPECT_NE(server.logText().find(received), std::string::npos) << received;
}
