#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "UnitSupport.h"
#include "net/AdminServer.h"
#include "net/Server.h"
#include "net/ServerInterface.h"
#include "support/UdpPeer.h"

namespace {

const std::string kMaxHit =
    "SERVER-ERROR: Maximum allowed send limit (sent/dropped) per reset hit.  Server will shut "
    "down.\n";

// An endpoint whose sends are counted instead of going to a socket.
class CapturingEndpoint : public ServerInterface {
public:
    int transmitted = 0;

protected:
    int transmit(const sockaddr_in*, const unsigned char*, int length) override {
        ++transmitted;
        return length;
    }
};

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool isLoopbackPortFree(std::uint16_t port) {
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) return false;
    sockaddr_in local = loopback(port);
    bool free = bind(probe, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
    close(probe);
    return free;
}

class ServerInterfaceTest : public CoreTest {
protected:
    void TearDown() override {
        delete Server::getInstance();
        delete AdminServer::getInstance();
        CoreTest::TearDown();
    }

    // Sends `count` datagrams of `length` bytes; returns how many went out whole.
    static int sendMany(ServerInterface& endpoint, int count, int length) {
        std::vector<unsigned char> data(static_cast<std::size_t>(length), 0x5A);
        sockaddr_in to = loopback(9);
        int sent = 0;
        for (int i = 0; i < count; ++i) {
            int result = endpoint.sendData(&to, data.data(), length);
            if (result == length) {
                ++sent;
            } else {
                EXPECT_EQ(result, 0) << "datagram " << i;
            }
        }
        return sent;
    }

    // Binds `endpoint` on a free loopback port so that closing it can be observed.
    static void listenOnLoopback(ServerInterface& endpoint) {
        std::uint16_t port = pickFreeUdpPort();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(endpoint.startListening(port, "127.0.0.1"));
    }
};

}  // namespace

TEST_F(ServerInterfaceTest, SendLimitSettingsDecideWhatIsSent) {
    struct Case {
        const char* name;
        std::optional<std::string> enabled;
        std::optional<std::string> limit;
        int sentOfTen;  // datagrams of 300 bytes
    };
    const Case cases[] = {
        {"limit 1000", "1", "1000", 4},
        {"limit reached exactly", "1", "300", 1},
        {"one byte over", "1", "301", 2},
        {"limit 0 is none", "1", "0", 10},
        {"limit negative is never reached", "1", "-1", 10},
        {"limit missing", "1", std::nullopt, 10},
        {"disabled", "0", "1000", 10},
        {"flag 2 is off", "2", "1000", 10},
        {"flag missing", std::nullopt, "1000", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete Conf::getInstance();
        if (c.enabled) setConf("ServerSendLimitEnabled", *c.enabled);
        if (c.limit) setConf("ServerSendLimit", *c.limit);
        CapturingEndpoint endpoint;
        EXPECT_EQ(sendMany(endpoint, 10, 300), c.sentOfTen);
        EXPECT_EQ(endpoint.transmitted, c.sentOfTen);
        EXPECT_EQ(endpoint.getBytesSent(), 300 * c.sentOfTen);
    }
    EXPECT_EQ(console(), "");
}

TEST_F(ServerInterfaceTest, ResetStartsANewPeriod) {
    setConf("ServerSendLimitEnabled", "1");
    setConf("ServerSendLimit", "1000");
    CapturingEndpoint endpoint;
    EXPECT_EQ(sendMany(endpoint, 6, 300), 4);
    endpoint.resetBytesSentSinceReset();
    EXPECT_EQ(sendMany(endpoint, 6, 300), 4);
    EXPECT_EQ(endpoint.getBytesSent(), 2400);
}

TEST_F(ServerInterfaceTest, DropWarningOnlyWhenLoggingDropsIsOn) {
    const std::string warning = "SERVER-WARNING: 300 bytes dropped due to exceeding limit.\n";
    struct Case {
        std::optional<std::string> logDropped;
        bool warns;
    };
    const Case cases[] = {{std::nullopt, false}, {"0", false}, {"2", false}, {"1", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logDropped.value_or("(absent)"));
        delete Conf::getInstance();
        clearConsole();
        setConf("ServerSendLimitEnabled", "1");
        setConf("ServerSendLimit", "100");
        if (c.logDropped) setConf("ServerSendLimitLogDropped", *c.logDropped);
        CapturingEndpoint endpoint;
        EXPECT_EQ(sendMany(endpoint, 3, 300), 1);
        EXPECT_EQ(console(), c.warns ? warning + warning : "");
    }
}

TEST_F(ServerInterfaceTest, DropWarningSettingIsReadAtEveryDrop) {
    setConf("ServerSendLimitEnabled", "1");
    setConf("ServerSendLimit", "100");
    setConf("ServerSendLimitLogDropped", "1");
    CapturingEndpoint endpoint;
    EXPECT_EQ(sendMany(endpoint, 2, 300), 1);
    ASSERT_TRUE(Conf::getInstance()->setConfEntryValue("ServerSendLimitLogDropped", "0", 0));
    EXPECT_EQ(sendMany(endpoint, 1, 120), 0);
    EXPECT_EQ(console(), "SERVER-WARNING: 300 bytes dropped due to exceeding limit.\n");
}

TEST_F(ServerInterfaceTest, MaximumClosesTheEndpointOncePassed) {
    setConf("ServerSendLimitEnabled", "1");
    setConf("ServerSendLimit", "1000");
    setConf("ServerSendLimitMaxAllowed", "5000");
    CapturingEndpoint endpoint;
    listenOnLoopback(endpoint);
    // Two sent and eight dropped make exactly 5000: not yet above the maximum.
    EXPECT_EQ(sendMany(endpoint, 10, 500), 2);
    EXPECT_TRUE(endpoint.isListening());
    EXPECT_EQ(console(), "");

    EXPECT_EQ(sendMany(endpoint, 1, 500), 0);
    EXPECT_FALSE(endpoint.isListening());
    EXPECT_EQ(console(), kMaxHit);
    EXPECT_FALSE(endpoint.hasDataArrived(0));
}

TEST_F(ServerInterfaceTest, ResetAlsoClearsTheMaximumCount) {
    setConf("ServerSendLimitEnabled", "1");
    setConf("ServerSendLimit", "1000");
    setConf("ServerSendLimitMaxAllowed", "5000");
    CapturingEndpoint endpoint;
    listenOnLoopback(endpoint);
    EXPECT_EQ(sendMany(endpoint, 10, 500), 2);
    endpoint.resetBytesSentSinceReset();
    EXPECT_EQ(sendMany(endpoint, 10, 500), 2);
    EXPECT_TRUE(endpoint.isListening());
    EXPECT_EQ(console(), "");
}

TEST_F(ServerInterfaceTest, MaximumIsTestedOnlyWhenADatagramIsDropped) {
    struct Case {
        const char* name;
        const char* enabled;
        const char* maximum;
        bool thirdSent;  // each datagram is 800 bytes
        bool closes;
    };
    const Case cases[] = {
        // 800 and then 1600 bytes go out above the maximum of 500; only the drop closes.
        {"limit 1000, maximum 500", "1", "500", false, true},
        {"no limit, nothing dropped", "0", "500", true, false},
        {"maximum 0 is none", "1", "0", false, false},
        {"negative maximum never reached", "1", "-1", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete Conf::getInstance();
        clearConsole();
        setConf("ServerSendLimitEnabled", c.enabled);
        setConf("ServerSendLimit", "1000");
        setConf("ServerSendLimitMaxAllowed", c.maximum);
        CapturingEndpoint endpoint;
        listenOnLoopback(endpoint);
        EXPECT_EQ(sendMany(endpoint, 2, 800), 2);
        EXPECT_TRUE(endpoint.isListening());
        EXPECT_EQ(sendMany(endpoint, 1, 800), c.thirdSent ? 1 : 0);
        EXPECT_EQ(endpoint.isListening(), !c.closes);
        EXPECT_EQ(console(), c.closes ? kMaxHit : "");
    }
}

TEST_F(ServerInterfaceTest, ByteCountersHoldMoreThanAnInt) {
    CapturingEndpoint endpoint;
    sockaddr_in to = loopback(9);
    unsigned char byte = 0;
    // The capturing transmit never reads the data, so one byte stands for the whole datagram.
    EXPECT_EQ(endpoint.sendData(&to, &byte, INT_MAX), INT_MAX);
    EXPECT_EQ(endpoint.sendData(&to, &byte, INT_MAX), INT_MAX);
    EXPECT_EQ(endpoint.getBytesSent(), 2 * static_cast<std::int64_t>(INT_MAX));
}

TEST_F(ServerInterfaceTest, ClosedEndpointReadsNothingAndFailsToSend) {
    ServerInterface endpoint;
    EXPECT_FALSE(endpoint.isListening());
    EXPECT_FALSE(endpoint.hasDataArrived(0));
    EXPECT_FALSE(endpoint.hasDataArrived(1000));
    sockaddr_in from{};
    unsigned char buffer[16];
    EXPECT_EQ(endpoint.readData(&from, buffer, sizeof(buffer)), 0);
    sockaddr_in to = loopback(9);
    EXPECT_LT(endpoint.sendData(&to, buffer, 4), 0);
    EXPECT_EQ(endpoint.getBytesSent(), 0);
    EXPECT_TRUE(endpoint.stopListening());
    EXPECT_EQ(console(), "");
}

TEST_F(ServerInterfaceTest, PortOutsideTheRangeIsRefused) {
    struct Case {
        int port;
        std::string console;
    };
    const Case cases[] = {
        {0, ""},
        {-1, ""},
        {INT_MIN, ""},
        {65536, "ERROR: Port 65536 is out of range.\n"},
        {70000, "ERROR: Port 70000 is out of range.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        clearConsole();
        ServerInterface endpoint;
        EXPECT_FALSE(endpoint.startListening(c.port, "127.0.0.1"));
        EXPECT_FALSE(endpoint.isListening());
        EXPECT_EQ(console(), c.console);
    }
}

TEST_F(ServerInterfaceTest, RefusedPortClosesAListeningEndpointAndKeepsCounters) {
    CapturingEndpoint endpoint;
    listenOnLoopback(endpoint);
    EXPECT_EQ(sendMany(endpoint, 2, 100), 2);
    EXPECT_FALSE(endpoint.startListening(0, "127.0.0.1"));
    EXPECT_FALSE(endpoint.isListening());
    EXPECT_EQ(endpoint.getBytesSent(), 200);
}

TEST_F(ServerInterfaceTest, ListeningAgainResetsTotalsButNotThePeriod) {
    setConf("ServerSendLimitEnabled", "1");
    setConf("ServerSendLimit", "1000");
    CapturingEndpoint endpoint;
    listenOnLoopback(endpoint);
    EXPECT_EQ(sendMany(endpoint, 5, 300), 4);
    EXPECT_EQ(endpoint.getBytesSent(), 1200);
    listenOnLoopback(endpoint);
    EXPECT_EQ(endpoint.getBytesSent(), 0);
    EXPECT_EQ(sendMany(endpoint, 1, 300), 0);
}

TEST_F(ServerInterfaceTest, LoopbackRoundTrip) {
    ServerInterface endpoint;
    std::uint16_t port = pickFreeUdpPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(endpoint.startListening(port, "127.0.0.1"));
    EXPECT_EQ(endpoint.getLocalPort(), port);
    EXPECT_STREQ(endpoint.getServerIP(), "127.0.0.1");
    EXPECT_FALSE(endpoint.hasDataArrived(0));

    UdpPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.sendTo(port, {1, 2, 3, 4, 5}));
    bool arrived = false;
    for (int i = 0; i < 2000 && !arrived; ++i) arrived = endpoint.hasDataArrived(1000);
    ASSERT_TRUE(arrived);
    sockaddr_in from{};
    unsigned char buffer[3] = {};
    EXPECT_EQ(endpoint.readData(&from, buffer, sizeof(buffer)), 3);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(ntohs(from.sin_port), peer.port());
    EXPECT_STREQ(ServerInterface::getAsciiAddress(&from), "127.0.0.1");
    EXPECT_EQ(endpoint.getBytesRead(), 3);

    const unsigned char reply[] = {9, 8};
    EXPECT_EQ(endpoint.sendData(&from, reply, sizeof(reply)), 2);
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(peer.receive(received, 2000));
    EXPECT_EQ(received, (std::vector<std::uint8_t>{9, 8}));
    EXPECT_EQ(endpoint.getBytesSent(), 2);

    EXPECT_TRUE(endpoint.stopListening());
    EXPECT_FALSE(endpoint.isListening());
    EXPECT_EQ(endpoint.readData(&from, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(console(), "");
}

TEST_F(ServerInterfaceTest, AddressTexts) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("10.0.0.5");
    EXPECT_STREQ(ServerInterface::getAsciiAddress(&address), "10.0.0.5");

    ServerInterface endpoint;
    std::uint16_t port = pickFreeUdpPort();
    ASSERT_NE(port, 0);
    if (!endpoint.startListening(port, nullptr)) GTEST_SKIP() << "port taken on all interfaces";
    EXPECT_STREQ(endpoint.getServerIP(), "0.0.0.0");
}

TEST_F(ServerInterfaceTest, GameEndpointUsesServerPortAndGameAddress) {
    std::uint16_t port = pickFreeUdpPort();
    ASSERT_NE(port, 0);
    setConf("ServerPort", std::to_string(port));
    setConf("GameIPAddress", "127.0.0.1");
    ASSERT_TRUE(Server::getInstance()->startServer());
    EXPECT_EQ(Server::getInstance()->getLocalPort(), port);
    EXPECT_STREQ(Server::getInstance()->getServerIP(), "127.0.0.1");
    EXPECT_TRUE(Server::getInstance()->stopServer());
    EXPECT_FALSE(Server::getInstance()->isListening());
}

TEST_F(ServerInterfaceTest, GameEndpointFailures) {
    const std::string bindError =
        "ERROR: Unable to bind to the socket. Check that no other instances of ZEVServer.exe are "
        "running and try again.\n";
    struct Case {
        const char* port;
        const char* address;
        std::string console;
    };
    std::string freePort = std::to_string(pickFreeUdpPort());
    const Case cases[] = {
        {freePort.c_str(), "192.0.2.1", bindError},
        {"70000", "127.0.0.1", "ERROR: Port 70000 is out of range.\n"},
        {"abc", "127.0.0.1", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + c.address);
        delete Conf::getInstance();
        delete Server::getInstance();
        clearConsole();
        setConf("ServerPort", c.port);
        setConf("GameIPAddress", c.address);
        EXPECT_FALSE(Server::getInstance()->startServer());
        EXPECT_FALSE(Server::getInstance()->isListening());
        EXPECT_EQ(console(), c.console);
    }
}

// inet_addr turns text that is not a dotted address into 255.255.255.255, which Linux would let
// a UDP socket bind to.
TEST_F(ServerInterfaceTest, InvalidGameAddressFailsToBind) {
    setConf("ServerPort", std::to_string(pickFreeUdpPort()));
    setConf("GameIPAddress", "999.1.1.1");
    EXPECT_FALSE(Server::getInstance()->startServer());
    EXPECT_FALSE(Server::getInstance()->isListening());
    EXPECT_EQ(console(),
              "ERROR: Unable to bind to the socket. Check that no other instances of ZEVServer.exe "
              "are running and try again.\n");
}

TEST_F(ServerInterfaceTest, AdminPortDefaultsTo4003) {
    const bool defaultFree = isLoopbackPortFree(4003);
    std::uint16_t explicitPort = pickFreeUdpPort();
    ASSERT_NE(explicitPort, 0);
    struct Case {
        std::optional<std::string> adminPort;
        int expected;
    };
    const Case cases[] = {
        {std::nullopt, 4003}, {"", 4003},    {"0", 4003},
        {"-5", 4003},         {"abc", 4003}, {std::to_string(explicitPort), explicitPort},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.adminPort.value_or("(absent)"));
        if (c.expected == 4003 && !defaultFree) continue;
        delete Conf::getInstance();
        delete AdminServer::getInstance();
        setConf("AdminIPAddress", "127.0.0.1");
        if (c.adminPort) setConf("AdminPort", *c.adminPort);
        ASSERT_TRUE(AdminServer::getInstance()->startServer());
        EXPECT_EQ(AdminServer::getInstance()->getLocalPort(), c.expected);
        EXPECT_STREQ(AdminServer::getInstance()->getServerIP(), "127.0.0.1");
    }
    if (!defaultFree) GTEST_SKIP() << "port 4003 is in use; only the explicit port was checked";
}
