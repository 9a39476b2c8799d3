// Malformed, truncated, oversized and unknown datagrams on the game, admin and query ports. Each
// test sweeps a table of bad inputs against one server with two joined players and a logged-in
// admin, checks every reply (or its absence) against a round-trip marker, and ends by checking
// that nothing else changed: the players and the admin are still there, the log stayed small and
// a newcomer can join.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TestClient.h"
#include "support/UdpPeer.h"

namespace {

constexpr const char* kAdminPassword = "bad-input-admin-password";
// Fills payloads: the letter 'd', and no player id, hour, weather or version a server knows.
constexpr std::uint8_t kFill = 100;
constexpr std::size_t kLogBound = 200 * 1024;
// The longest datagram whose envelope still fits the server's 1024-byte receive buffer.
constexpr std::size_t kLargestDatagram = 1021;

// Deadlines stretch when the server runs under a wrapper such as valgrind.
int slow(int timeoutMs) {
    const char* wrapper = std::getenv("ZEV_SERVER_WRAPPER");
    return wrapper != nullptr && *wrapper != '\0' ? timeoutMs * 10 : timeoutMs;
}

Bytes filled(std::uint8_t code, std::size_t payload) {
    Bytes datagram(1 + payload, kFill);
    datagram[0] = code;
    return datagram;
}

Bytes withText(Bytes head, const std::string& text) {
    head.insert(head.end(), text.begin(), text.end());
    return head;
}

// AES-128-ECB of whole blocks through TestClient::seal: every block of a sealed datagram after
// the first holds the datagram's bytes from offset 14 on.
Bytes encryptBlocks(const std::uint8_t key[16], const Bytes& plain) {
    Bytes carrier(14 + plain.size(), 0);
    std::copy(plain.begin(), plain.end(), carrier.begin() + 14);
    Bytes sealed = TestClient::seal(key, carrier);
    return Bytes(sealed.begin() + 16, sealed.begin() + 16 + static_cast<long>(plain.size()));
}

// An encrypted envelope of `size` bytes (a multiple of 16) whose length field says `length` and
// whose datagram begins with `head`; the rest is zero.
Bytes envelope(const std::uint8_t key[16], std::size_t size, unsigned length, const Bytes& head) {
    Bytes plain(size, 0);
    plain[0] = static_cast<std::uint8_t>(length);
    plain[1] = static_cast<std::uint8_t>(length >> 8);
    for (std::size_t i = 0; i < head.size() && 2 + i < size; ++i) plain[2 + i] = head[i];
    return encryptBlocks(key, plain);
}

// [3, id, type, text, NUL]: a chat line as the server relays it.
bool isChat(const Bytes& datagram, const std::string& text) {
    return datagram.size() == text.size() + 4 && datagram[0] == 3 && datagram.back() == 0 &&
           std::string(datagram.begin() + 3, datagram.end() - 1) == text;
}

// A game client that knows its own key, so that it can open replies under either key.
class Player {
public:
    Player(std::uint16_t gamePort, int host)
        : m_client(gamePort, "127.0.0." + std::to_string(host)) {
        std::memcpy(m_key, TestClient::kDefaultGeneralKey, sizeof(m_key));
    }

    TestClient& client() { return m_client; }
    const std::uint8_t* key() const { return m_key; }
    int id() const { return m_client.id(); }

    bool join(const std::string& nick) {
        std::optional<Bytes> reply = m_client.join(nick);
        if (!reply || reply->size() < 37 || (*reply)[0] != 1) return false;
        std::memcpy(m_key, reply->data() + 21, sizeof(m_key));
        return true;
    }

    // The next datagram opened with the player's key, else with the general key (`general`).
    std::optional<Bytes> next(int timeoutMs, bool* general = nullptr) {
        Bytes sealed;
        if (!m_client.peer().receive(sealed, timeoutMs)) return std::nullopt;
        if (general != nullptr) *general = false;
        if (std::optional<Bytes> opened = TestClient::open(m_key, sealed)) return opened;
        if (general != nullptr) *general = true;
        std::optional<Bytes> opened = TestClient::open(TestClient::kDefaultGeneralKey, sealed);
        return opened ? opened : Bytes{};
    }

    // Everything that arrives before the chat line `marker`, without the server's own periodic
    // packets (ping, ping report, client check, time, weather); general-key datagrams are
    // prefixed with the byte 0xEE. Nothing when the marker does not come.
    std::optional<std::vector<Bytes>> collectUntil(const std::string& marker) {
        static const std::set<std::uint8_t> periodic = {4, 22, 25, 32, 33};
        std::vector<Bytes> seen;
        while (true) {
            bool general = false;
            std::optional<Bytes> datagram = next(slow(2000), &general);
            if (!datagram) return std::nullopt;
            if (!general && isChat(*datagram, marker)) return seen;
            if (!general && !datagram->empty() && periodic.count((*datagram)[0]) != 0) continue;
            if (general) datagram->insert(datagram->begin(), 0xEE);
            seen.push_back(*datagram);
        }
    }

    // Skips datagrams until exactly `expected` arrives.
    bool waitFor(const Bytes& expected) {
        while (std::optional<Bytes> datagram = next(slow(2000))) {
            if (*datagram == expected) return true;
        }
        return false;
    }

private:
    TestClient m_client;
    std::uint8_t m_key[16];
};

// A general-key reply as Player::collectUntil reports it.
Bytes general(Bytes datagram) {
    datagram.insert(datagram.begin(), 0xEE);
    return datagram;
}

// The fixed payload bytes each game code reads after its code byte.
std::size_t gameFixedFields(int code) {
    switch (code) {
        case 1:
            return 6;  // version, client kind, check value
        case 5:
            return 5;
        case 12:
        case 25:
        case 36:
            return 4;
        case 11:
            return 2;
        case 37:
            return 12;
        case 3:
        case 10:
        case 20:
        case 23:
        case 24:
        case 42:
            return 1;
        default:
            return 0;
    }
}

// Codes with which a player leaves: quit, trainer, and the two check replies when wrong.
bool removesSender(int code) { return code == 2 || code == 5 || code == 19 || code == 25; }

class BadInputTest : public ::testing::Test {
protected:
    // One server with players A (127.0.0.10) and B (127.0.0.11) and an admin (127.0.0.50).
    void startServer(bool allowShutdown) {
        m_config = TestConfig::standard();
        m_adminPort = pickFreeUdpPort();
        m_config.entries["GameMap"] = "3";
        m_config.entries["AdminServer"] = "1";
        m_config.entries["AdminPort"] = std::to_string(m_adminPort);
        m_config.entries["AdminPassword"] = kAdminPassword;
        m_config.entries["AdminAllowShutdown"] = allowShutdown ? "1" : "0";
        m_config.entries["ASE"] = "1";
        // On its own network, so that no test address may ask for the verification answer.
        m_config.entries["ASEMasterPrimary"] = "127.0.1.1:" + std::to_string(m_master.port());
        m_config.entries["ChatFloodMaxCount"] = "1000";
        m_config.entries["DebugOutput"] = "0";
        m_server.writeConfig(m_config);
        ASSERT_TRUE(m_server.startAndWaitReady()) << m_server.consoleText();
        ASSERT_TRUE(m_server.waitForText(
            "stdout.txt", "Administration access successfully started on port", slow(5000)));

        m_a = std::make_unique<Player>(m_config.gamePort(), 10);
        m_b = std::make_unique<Player>(m_config.gamePort(), 11);
        ASSERT_TRUE(m_a->join("Ann"));
        ASSERT_TRUE(m_b->join("Bob"));
        ASSERT_TRUE(m_a->waitFor(withText({8, static_cast<std::uint8_t>(m_b->id())}, "Bob")));
        ASSERT_TRUE(sendAdmin({13, '0', 1, 'B', 'o', 's', 's', '|'}, kAdminPassword));
        Bytes reply;
        ASSERT_TRUE(m_admin.receive(reply, slow(2000)));
        ASSERT_FALSE(reply.empty());
        ASSERT_EQ(reply[0], 1);
        m_adminId = reply[4];
    }

    std::uint16_t queryPort() const {
        return static_cast<std::uint16_t>(m_config.gamePort() + 123);
    }

    bool sendAdmin(Bytes datagram, const std::string& text = "") {
        if (!text.empty()) {
            datagram = withText(datagram, text);
            datagram.push_back(0);
        }
        return m_admin.sendTo(m_adminPort, datagram);
    }

    // What the admin receives before the chat line `marker`, without pings, time and weather.
    std::optional<std::vector<Bytes>> adminCollectUntil(const std::string& marker) {
        std::vector<Bytes> seen;
        Bytes datagram;
        while (m_admin.receive(datagram, slow(2000))) {
            if (isChat(datagram, marker)) return seen;
            if (datagram.size() == 1 && datagram[0] == 4) continue;
            if (!datagram.empty() && (datagram[0] == 32 || datagram[0] == 33)) continue;
            seen.push_back(datagram);
        }
        return std::nullopt;
    }

    // Player A's chat line `marker` reaches A itself, B and the admin: every datagram sent
    // before it has been handled. B and the admin also send a sign of life.
    void roundTrip(const std::string& marker) {
        ASSERT_TRUE(m_a->client().send(withText({3, 0}, marker + std::string(1, '\0'))));
        ASSERT_TRUE(m_b->client().send(Bytes{0}));
        ASSERT_TRUE(sendAdmin({5}));
        ASSERT_TRUE(m_a->collectUntil(marker).has_value()) << marker;
        ASSERT_TRUE(m_b->collectUntil(marker).has_value()) << marker;
        ASSERT_TRUE(adminCollectUntil(marker).has_value()) << marker;
    }

    // The players field of a status reply to a query from a fresh address; "" without one.
    std::string statusPlayers() {
        UdpPeer browser("127.0.0." + std::to_string(m_nextHost++));
        Bytes reply;
        if (!browser.sendTo(queryPort(), Bytes{'s'}) || !browser.receive(reply, slow(2000))) {
            return "";
        }
        // "EYE1", then game name, port, name, type, map, version, password, players.
        std::size_t at = 4;
        for (int field = 0; field < 7 && at < reply.size(); ++field) at += reply[at];
        if (at >= reply.size() || reply[at] == 0 || at + reply[at] > reply.size()) return "";
        return std::string(reply.begin() + static_cast<long>(at) + 1,
                           reply.begin() + static_cast<long>(at + reply[at]));
    }

    // Players and admin are unchanged, the log stayed small, a newcomer can join and the
    // server still runs.
    void expectHealthy(const std::string& marker) {
        ASSERT_NO_FATAL_FAILURE(roundTrip(marker));
        EXPECT_EQ(statusPlayers(), "2");
        EXPECT_LT(m_server.logText().size(), kLogBound);
        Player newcomer(m_config.gamePort(), m_nextHost++);
        EXPECT_TRUE(newcomer.join("Newcomer"));
        int status = 0;
        EXPECT_FALSE(m_server.waitForExit(&status, 50)) << "exited with " << status;
    }

    // The admin's two remote-shutdown requests end the server with status 0.
    void expectCleanShutdown() {
        ASSERT_TRUE(sendAdmin({18}));
        ASSERT_TRUE(sendAdmin({18}));
        int status = -1;
        ASSERT_TRUE(m_server.waitForExit(&status, slow(10000)));
        EXPECT_EQ(status, 0) << m_server.errorText();
    }

    TestConfig m_config;
    std::uint16_t m_adminPort = 0;
    UdpPeer m_master{"127.0.1.1"};
    ServerProcess m_server;
    std::unique_ptr<Player> m_a;
    std::unique_ptr<Player> m_b;
    UdpPeer m_admin{"127.0.0.50"};
    int m_adminId = -1;
    int m_nextHost = 100;
};

// What player A (the sender) and player B receive for one game code sent by A at every bad
// length: empty, one byte short, the longest datagram that arrives whole (payload all kFill),
// and the forms that must be dropped.
struct GameReplies {
    std::vector<Bytes> toSender;
    std::vector<Bytes> toOther;
};

GameReplies expectedGameReplies(int code, std::uint8_t a) {
    const Bytes chat = withText({3, a, kFill}, std::string(126, 'd') + std::string(1, '\0'));
    switch (code) {
        case 1:
            return {{general({6, 2})}, {}};  // only the whole request: "already joined"
        case 3:
            return {{chat}, {chat}};  // cut to 126 characters
        case 4:
            return {{{5}, {5}}, {}};  // the empty ping and the long one
        case 11:
            return {{{11, a, kFill}}, {{11, a, kFill}}};  // killer 100: no killer
        case 23:
            return {{}, {{23, a, kFill}}};
        case 36:
            return {{{36, a, kFill, kFill, kFill, kFill}}, {{36, a, kFill, kFill, kFill, kFill}}};
        case 42:
            return {{}, {{41, kFill}}};
        default:
            return {};
    }
}

}  // namespace

TEST_F(BadInputTest, GameCodesAtBadLengthsGetOnlyTheirOwnReplies) {
    ASSERT_NO_FATAL_FAILURE(startServer(true));
    const auto a = static_cast<std::uint8_t>(m_a->id());
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        const auto c = static_cast<std::uint8_t>(code);
        const std::size_t fixed = gameFixedFields(code);
        TestClient& sender = m_a->client();
        // An empty quit or trainer report is no bad input: it removes the sender.
        if (code != 2 && code != 19) {
            ASSERT_TRUE(sender.send({c}));
        }
        if (fixed >= 2) {
            ASSERT_TRUE(sender.send(filled(c, fixed - 1)));
        }
        if (!removesSender(code)) {
            ASSERT_TRUE(sender.send(filled(c, kLargestDatagram - 1)));
        }
        // Dropped: a 1024-byte datagram, whose envelope does not fit the receive buffer, and
        // length fields that claim more than arrived.
        ASSERT_TRUE(sender.send(filled(c, 1023)));
        ASSERT_TRUE(sender.sendRaw(envelope(m_a->key(), 16, 1000, filled(c, 13))));
        ASSERT_TRUE(sender.sendRaw(envelope(m_a->key(), 32, 31, filled(c, 29))));
        ASSERT_TRUE(sender.sendRaw(envelope(m_a->key(), 1024, 1023, filled(c, 1021))));

        const std::string marker = "game-" + std::to_string(code);
        ASSERT_TRUE(sender.send(withText({3, 0}, marker + std::string(1, '\0'))));
        std::optional<std::vector<Bytes>> toSender = m_a->collectUntil(marker);
        std::optional<std::vector<Bytes>> toOther = m_b->collectUntil(marker);
        ASSERT_TRUE(toSender.has_value());
        ASSERT_TRUE(toOther.has_value());

        GameReplies expected = expectedGameReplies(code, a);
        if (code == 10) {
            // The long state report is relayed to B, in full or compact form.
            ASSERT_EQ(toOther->size(), 1u);
            EXPECT_EQ(Bytes(toOther->front().begin(), toOther->front().begin() + 2),
                      (Bytes{10, a}));
            toOther->clear();
        }
        if (code == 24 && toSender->size() == 1 && toSender->front().size() == 3) {
            // The skin of the unknown player 100 is whatever the server holds for it.
            EXPECT_EQ(Bytes(toSender->front().begin(), toSender->front().begin() + 2),
                      (Bytes{23, kFill}));
            toSender->clear();
        }
        if (code == 41) {
            ASSERT_EQ(toSender->size(), 2u);  // the empty query and the long one
            for (const Bytes& reply : *toSender) EXPECT_EQ(reply.size(), 2u);
            EXPECT_EQ(toSender->front()[0], 41);
            toSender->clear();
        }
        EXPECT_EQ(*toSender, expected.toSender);
        EXPECT_EQ(*toOther, expected.toOther);
        if (code % 32 == 31) {
            ASSERT_NO_FATAL_FAILURE(roundTrip("alive-" + std::to_string(code)));
        }
    }
    EXPECT_TRUE(m_server.waitForText("server.log", "GameMode was changed to 100 by Ann"));
    expectHealthy("after-game-codes");
    expectCleanShutdown();
}

TEST_F(BadInputTest, LongQuitTrainerAndWrongCheckRepliesStillRemoveTheSender) {
    ASSERT_NO_FATAL_FAILURE(startServer(true));
    struct Case {
        std::uint8_t code;
        Bytes toSender;  // before the notice to the others
        std::uint8_t reason;
    };
    const Case cases[] = {{2, {}, 0}, {5, {6, 8}, 5}, {19, {}, 4}, {25, {6, 8}, 5}};
    int host = 20;
    for (const Case& test : cases) {
        SCOPED_TRACE("code " + std::to_string(test.code));
        Player leaver(m_config.gamePort(), host++);
        ASSERT_TRUE(leaver.join("Leaver"));
        ASSERT_TRUE(leaver.client().send(filled(test.code, kLargestDatagram - 1)));
        if (!test.toSender.empty()) {
            EXPECT_TRUE(leaver.waitFor(test.toSender));
        }
        const auto id = static_cast<std::uint8_t>(leaver.id());
        EXPECT_TRUE(m_b->waitFor({9, test.reason, id}));
    }
    expectHealthy("after-removals");
    expectCleanShutdown();
}

TEST_F(BadInputTest, EnvelopesOfBadSizesAndLengthFieldsAreDropped) {
    ASSERT_NO_FATAL_FAILURE(startServer(true));
    // A stranger's requests are read with the general key: a join with a wrong version byte is
    // refused [6, 6] once it arrives whole (7 bytes); a join with a wrong check value, [6, 8],
    // is its marker. A joined player's ping [4] is answered [5].
    Player stranger(m_config.gamePort(), 30);
    const std::uint32_t check = TestClient::kCheckValue;
    const Bytes wrongVersion = {1,
                                '1',
                                0,
                                static_cast<std::uint8_t>(check),
                                static_cast<std::uint8_t>(check >> 8),
                                static_cast<std::uint8_t>(check >> 16),
                                static_cast<std::uint8_t>(check >> 24)};
    const Bytes wrongCheck = TestClient::joinRequest("Stranger", "", '2', 0, 0);
    struct Sender {
        const char* name;
        Player& player;
        Bytes probe;
        Bytes answer;
        std::size_t minimum;  // the shortest length field that carries the whole probe
    };
    Sender senders[] = {{"stranger", stranger, wrongVersion, {6, 6}, 7},
                        {"player", *m_a, {4}, {5}, 1}};
    const unsigned lengths[] = {0, 1, 2, 7, 13, 14, 15, 16, 29, 30, 31, 1024, 1025, 4096, 65535};

    int round = 0;
    for (Sender& sender : senders) {
        SCOPED_TRACE(sender.name);
        const std::uint8_t* key = sender.player.key();
        // Sends `sealed`, then the marker; the probe's answer must come back iff `answered`.
        auto expect = [&](const Bytes& sealed, bool answered, const std::string& label) {
            SCOPED_TRACE(label);
            ASSERT_TRUE(sender.player.client().sendRaw(sealed));
            std::vector<Bytes> expected;
            if (answered) expected.push_back(sender.answer);
            if (&sender.player == &stranger) {
                // The stranger holds the general key as its own.
                ASSERT_TRUE(stranger.client().sendWithGeneralKey(wrongCheck));
                expected.push_back({6, 8});
                std::vector<Bytes> seen;
                while (std::optional<Bytes> datagram = stranger.next(slow(2000))) {
                    seen.push_back(*datagram);
                    if (seen.back() == Bytes{6, 8} || seen.size() > expected.size()) break;
                }
                EXPECT_EQ(seen, expected);
            } else {
                const std::string marker = "envelope-" + std::to_string(round++);
                ASSERT_TRUE(m_a->client().send(withText({3, 0}, marker + std::string(1, '\0'))));
                std::optional<std::vector<Bytes>> seen = m_a->collectUntil(marker);
                ASSERT_TRUE(seen.has_value());
                EXPECT_EQ(*seen, expected);
            }
        };

        for (std::size_t size : {16u, 32u, 1024u}) {
            for (unsigned length : lengths) {
                const bool answered = length >= sender.minimum && length + 2 <= size;
                expect(envelope(key, size, length, sender.probe), answered,
                       "size " + std::to_string(size) + ", length " + std::to_string(length));
            }
        }
        expect(envelope(key, 1024, 1022, sender.probe), true, "the longest length field");
        // Sizes that are no multiple of 16, cut from an envelope that would be answered.
        const Bytes whole = envelope(key, 1024, 7, sender.probe);
        for (std::size_t size : {0u, 1u, 15u, 17u, 31u, 1023u}) {
            expect(Bytes(whole.begin(), whole.begin() + static_cast<long>(size)), false,
                   "cut to " + std::to_string(size) + " bytes");
        }
    }
    expectHealthy("after-envelopes");
    expectCleanShutdown();
}

// What the admin and the players receive for one admin code at one bad length. `optional`: an
// implementation may also answer nothing.
struct AdminReplies {
    std::vector<Bytes> toAdmin;
    std::vector<Bytes> toPlayers;
    bool optional = false;
};

AdminReplies expectedAdminReplies(int code, std::size_t payload, std::uint8_t adminId) {
    const std::size_t length = std::min<std::size_t>(payload + 1, 1024);
    switch (code) {
        case 3: {
            // Admin chat: the text runs from payload byte 1 to 3 bytes before the end of at
            // most 129 bytes.
            const std::size_t counted = std::min<std::size_t>(length, 129);
            if (counted < 4) return {};
            Bytes chat = withText({3, adminId, kFill}, std::string(counted - 3, 'd'));
            chat.push_back(0);
            return {{chat}, {chat}};
        }
        case 13:
            return {{{6, 2}}, {}};  // already logged in, whatever follows
        case 16:
            return {{{16, 0}}, {}};  // no such ban entry
        case 17:
            return {{{17}}, {}};  // the empty ban list
        case 18:
            return {{{18, 4}}, {}};  // remote shutdown disabled
        case 26:
            return {{{26, 0}}, {}};  // no motd.txt yet
        case 27:
            return {{{27, 0}}, {}};  // no ServerPassword to change
        case 28:
            return {{{28, 0}}, {}};  // no digits, no address
        case 30:
            return {{{30}}, {{30}}};
        case 34:
            return {{{34}}, {{34}}};
        case 38:
            if (payload < 4) return {};
            return {{{38, kFill, kFill, kFill, kFill}}, {{38, kFill, kFill, kFill, kFill}}};
        case 40:
            // Saved, then loaded; without its 4-byte field the request may also be ignored.
            return {{{40, 1}, {26, 1}}, {}, payload <= 4};
        default:
            return {};
    }
}

TEST_F(BadInputTest, AdminCodesAtBadLengthsGetOnlyTheirOwnReplies) {
    ASSERT_NO_FATAL_FAILURE(startServer(false));
    const auto adminId = static_cast<std::uint8_t>(m_adminId);
    // Payload lengths: empty, short of a two- or four-byte field, without NUL, the 1024 bytes
    // the server reads, and more than it reads.
    const std::size_t payloads[] = {0, 1, 3, 8, 1023, 1499};
    for (int code = 0; code < 256; ++code) {
        if (code == 2) continue;  // quit: at the end
        SCOPED_TRACE("code " + std::to_string(code));
        std::vector<Bytes> toAdmin;
        std::vector<Bytes> toPlayers;
        for (std::size_t payload : payloads) {
            ASSERT_TRUE(sendAdmin(filled(static_cast<std::uint8_t>(code), payload)));
            AdminReplies replies = expectedAdminReplies(code, payload, adminId);
            if (!replies.optional) {
                toAdmin.insert(toAdmin.end(), replies.toAdmin.begin(), replies.toAdmin.end());
            }
            toPlayers.insert(toPlayers.end(), replies.toPlayers.begin(), replies.toPlayers.end());
        }
        const std::string marker = "admin-" + std::to_string(code);
        ASSERT_TRUE(sendAdmin({3, 0}, marker));
        std::optional<std::vector<Bytes>> seen = adminCollectUntil(marker);
        ASSERT_TRUE(seen.has_value());
        if (code == 40) {
            // The short requests, sent first, may be answered [40, r], [26, r] or not at all.
            std::size_t extra = seen->size() - std::min(seen->size(), toAdmin.size());
            ASSERT_EQ(extra % 2, 0u);
            for (std::size_t i = 0; i < extra; i += 2) {
                EXPECT_EQ((*seen)[i].size(), 2u);
                EXPECT_EQ((*seen)[i][0], 40);
                EXPECT_EQ((*seen)[i + 1].size(), 2u);
                EXPECT_EQ((*seen)[i + 1][0], 26);
            }
            seen->erase(seen->begin(), seen->begin() + static_cast<long>(extra));
        }
        EXPECT_EQ(*seen, toAdmin);
        for (Player* player : {m_a.get(), m_b.get()}) {
            std::optional<std::vector<Bytes>> received = player->collectUntil(marker);
            ASSERT_TRUE(received.has_value());
            EXPECT_EQ(*received, toPlayers);
        }
        if (code % 32 == 31) {
            ASSERT_NO_FATAL_FAILURE(roundTrip("alive-" + std::to_string(code)));
        }
    }

    // A stranger gets nothing, but a malformed login, [6, 6].
    UdpPeer stranger("127.0.0.51");
    for (int code = 0; code < 256; ++code) {
        for (std::size_t payload : {0u, 8u, 1023u}) {
            if (code == 13 && payload == 0) continue;
            ASSERT_TRUE(
                stranger.sendTo(m_adminPort, filled(static_cast<std::uint8_t>(code), payload)));
        }
        if (code % 16 == 15) {
            ASSERT_TRUE(waitUntil([&] { return udpReceiveQueue(m_adminPort) == 0; }, slow(2000)));
        }
    }
    // The admin's own marker on the same port comes back after every datagram before it.
    ASSERT_TRUE(sendAdmin({3, 0}, "stranger-done"));
    ASSERT_TRUE(adminCollectUntil("stranger-done").has_value());
    std::vector<Bytes> toStranger;
    Bytes datagram;
    while (stranger.receive(datagram, 100)) toStranger.push_back(datagram);
    EXPECT_EQ(toStranger, (std::vector<Bytes>{{6, 6}, {6, 6}}));
    EXPECT_EQ(m_server.logText().find("Unable to add"), std::string::npos);

    expectHealthy("after-admin-codes");

    // A long quit still logs the admin out: game chat no longer reaches it.
    ASSERT_TRUE(sendAdmin(filled(2, 1023)));
    EXPECT_TRUE(m_server.waitForText("server.log", "ADMIN-QUIT: 'Boss'", slow(2000)));
    ASSERT_TRUE(m_a->client().send(withText({3, 0}, std::string("after-quit") + '\0')));
    ASSERT_TRUE(m_b->collectUntil("after-quit").has_value());
    bool chatSeen = false;
    while (m_admin.receive(datagram, 200)) chatSeen = chatSeen || isChat(datagram, "after-quit");
    EXPECT_FALSE(chatSeen);
}

TEST_F(BadInputTest, QueriesOfEveryFirstByteAndLengthGetOnlyTheirAnswers) {
    ASSERT_NO_FATAL_FAILURE(startServer(true));
    // Answers are limited per source, so each answered first byte has an address of its own.
    UdpPeer silent("127.0.0.60");
    UdpPeer status("127.0.0.61");
    UdpPeer ping("127.0.0.62");
    UdpPeer name("127.0.0.63");
    const std::size_t lengths[] = {1, 2, 9, 19, 20, 4096, 8192};
    ASSERT_TRUE(silent.sendTo(queryPort(), Bytes{}));
    for (int first = 0; first < 256; ++first) {
        UdpPeer& peer = first == 's' ? status : first == 'p' ? ping : first == 'g' ? name : silent;
        for (std::size_t length : lengths) {
            ASSERT_TRUE(
                peer.sendTo(queryPort(), filled(static_cast<std::uint8_t>(first), length - 1)));
        }
        // Keep the server's receive queue from overflowing.
        if (first % 4 == 3) {
            ASSERT_TRUE(waitUntil([&] { return udpReceiveQueue(queryPort()) == 0; }, slow(2000)))
                << "first byte " << first;
        }
    }
    auto received = [](UdpPeer& peer) {
        std::vector<Bytes> all;
        Bytes datagram;
        while (peer.receive(datagram, slow(300))) all.push_back(datagram);
        return all;
    };

    EXPECT_TRUE(received(silent).empty());
    std::vector<Bytes> statusReplies = received(status);
    EXPECT_EQ(statusReplies.size(), std::size(lengths));
    for (const Bytes& reply : statusReplies) {
        EXPECT_EQ(std::string(reply.begin(), reply.begin() + 4), "EYE1");
    }
    // A ping answer is the query with its first byte changed, for queries of up to 19 bytes.
    std::vector<Bytes> expectedPings;
    for (std::size_t length : lengths) {
        if (length > 19) continue;
        expectedPings.push_back(filled('P', length - 1));
    }
    EXPECT_EQ(received(ping), expectedPings);
    EXPECT_EQ(received(name), std::vector<Bytes>(std::size(lengths), Bytes{'G', 'z', 'e', 'v'}));

    expectHealthy("after-queries");
    expectCleanShutdown();
}

TEST_F(BadInputTest, BytesOfALongDatagramNeverShowInAShorterOneAfterIt) {
    ASSERT_NO_FATAL_FAILURE(startServer(true));
    const auto a = static_cast<std::uint8_t>(m_a->id());
    const auto adminId = static_cast<std::uint8_t>(m_adminId);
    // Each pair: a long datagram of 'z', then a short one without its terminator.
    const std::string chat = std::string(126, 'z') + std::string(1, '\0');
    ASSERT_TRUE(m_a->client().send(withText({3, 0}, std::string(kLargestDatagram - 2, 'z'))));
    ASSERT_TRUE(m_a->client().send({3, 0, 'a', 'b'}));
    ASSERT_TRUE(m_a->client().send(withText({3, 0}, std::string("player-chats") + '\0')));
    EXPECT_EQ(m_b->collectUntil("player-chats"),
              (std::vector<Bytes>{withText({3, a, 0}, chat), {3, a, 0, 'a', 0}}));
    ASSERT_TRUE(sendAdmin(withText({3, 0}, std::string(1022, 'z'))));
    ASSERT_TRUE(sendAdmin({3, 0, 'c', 'd'}));
    ASSERT_TRUE(sendAdmin({3, 0}, "admin-chats"));
    EXPECT_EQ(m_b->collectUntil("admin-chats"),
              (std::vector<Bytes>{withText({3, adminId, 0}, chat), {3, adminId, 0, 'c', 0}}));

    // A join's nick ends two bytes before the end of a request without "|".
    Player longJoin(m_config.gamePort(), 40);
    ASSERT_TRUE(longJoin.client().sendWithGeneralKey(
        TestClient::joinRequest(std::string(12, 'z'), std::string(1000, 'z'))));
    Bytes shortJoin = TestClient::joinRequest("", "");
    shortJoin.resize(7);
    shortJoin.insert(shortJoin.end(), {'N', 'e', 'w'});
    Player newcomer(m_config.gamePort(), 41);
    ASSERT_TRUE(newcomer.client().sendWithGeneralKey(shortJoin));
    EXPECT_TRUE(m_b->waitFor(withText({8, 2}, std::string(12, 'z'))));
    EXPECT_TRUE(m_b->waitFor({8, 3, 'N', 'e'}));

    // Only the first 20 bytes of a ban request count, and a short one ends where it arrived.
    ASSERT_TRUE(sendAdmin(withText({28}, std::string(1023, '5'))));
    ASSERT_TRUE(sendAdmin(withText({28}, "1.2.3.4")));
    ASSERT_TRUE(sendAdmin({17}));
    ASSERT_TRUE(sendAdmin({3, 0}, "bans"));
    std::optional<std::vector<Bytes>> replies = adminCollectUntil("bans");
    ASSERT_TRUE(replies.has_value());
    std::vector<Bytes> answers;
    for (const Bytes& reply : *replies) {
        if (reply[0] == 28 || reply[0] == 17) answers.push_back(reply);
    }
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0], (Bytes{28, 1}));
    EXPECT_EQ(answers[1], (Bytes{28, 1}));
    EXPECT_EQ(std::string(answers[2].begin() + 1, answers[2].end()),
              std::string(20, '5') + "|1.2.3.4|");
    EXPECT_LT(m_server.logText().size(), kLogBound);
    expectCleanShutdown();
}
