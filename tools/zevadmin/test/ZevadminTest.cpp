#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/ByteWriter.h"
#include "zevadmin/Command.h"
#include "zevadmin/Connection.h"
#include "zevadmin/Events.h"
#include "zevadmin/Options.h"
#include "zevadmin/Protocol.h"
#include "zevadmin/Request.h"

using namespace zevadmin;

namespace {

Bytes withText(Bytes head, const std::string& text, bool nul = true) {
    head.insert(head.end(), text.begin(), text.end());
    if (nul) head.push_back(0);
    return head;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < line.size()) {
        std::size_t space = line.find(' ', start);
        if (space == std::string::npos) space = line.size();
        out.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    return out;
}

// The admin form of the join reply as the server builds it: no key, then the players.
Bytes loginReply(int clientType, int adminId, const std::vector<PlayerEntry>& players) {
    unsigned char buffer[kMaxDatagram];
    ByteWriter writer(buffer, sizeof(buffer));
    for (int value : {1, clientType, 3, 2, adminId, 32, 23, 59, 2}) {
        writer.u8(static_cast<std::uint8_t>(value));
    }
    writer.zeros(12);
    writer.field("Test Server", 50);
    writer.field("http://motd.example", 255);
    for (const PlayerEntry& player : players) {
        writer.u8(static_cast<std::uint8_t>(player.id));
        writer.i16(static_cast<std::int16_t>(player.score));
        if (clientType == 1) writer.i32(player.money);
        writer.bytes(player.nick.data(), player.nick.size());
        writer.u8(7);
    }
    return Bytes(buffer, buffer + writer.size());
}

Command parsed(const std::string& line) {
    Command command;
    std::string error;
    EXPECT_TRUE(parseCommand(words(line), &command, &error)) << line << ": " << error;
    return command;
}

// Feeds `replies` to a request for `line` in order; the datagrams it asked to send go to
// `resent`. Returns how many of the replies it claimed.
int feed(Request& request, const std::vector<Bytes>& replies, const Roster& roster,
         std::vector<Bytes>* resent = nullptr) {
    int claimed = 0;
    for (const Bytes& reply : replies) {
        std::vector<Bytes> resend;
        if (request.offer(reply.data(), reply.size(), roster, &resend)) ++claimed;
        if (resent != nullptr) resent->insert(resent->end(), resend.begin(), resend.end());
    }
    return claimed;
}

// A UDP socket bound to `address` on a port the system picks; -1 on failure.
int boundSocket(const char* address, sockaddr_in* bound) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    *bound = sockaddr_in{};
    bound->sin_family = AF_INET;
    inet_pton(AF_INET, address, &bound->sin_addr);
    socklen_t size = sizeof(*bound);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(bound), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(bound), &size) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

// What the connection reports within two seconds; Nothing when it stays silent.
Connection::Result nextResult(Connection& connection, Bytes* datagram) {
    for (int turn = 0; turn < 40; ++turn) {
        Connection::Result result = connection.receive(datagram);
        if (result != Connection::Result::Nothing) return result;
        pollfd fd{connection.handle(), POLLIN, 0};
        poll(&fd, 1, 50);
    }
    return Connection::Result::Nothing;
}

}  // namespace

TEST(ZevadminCommand, EachCommandSendsTheDatagramTheServerReads) {
    struct Case {
        const char* line;
        Bytes datagram;
    };
    const Case cases[] = {
        {"kick 3", {14, 3}},
        {"ban #5", {15, 5}},
        {"ip 0", {29, 0}},
        {"bans", {17}},
        {"ban-ip 1.2.3.4", withText({28}, "1.2.3.4")},
        {"unban 10.0.0.0", withText({16}, "10.0.0.0")},
        {"say hello there", withText({3, 0}, "hello there")},
        {"say /me waves", withText({3, 0}, "/me waves")},
        {"msg #3,bob see you", withText({3, 0}, "/msg #3,bob see you")},
        {"time 12 30", {31, 12, 30}},
        {"time 23:59", {31, 23, 59}},
        {"time 0 0", {31, 0, 0}},
        {"weather rain", {35, 2}},
        {"weather FOG", {35, 3}},
        {"weather Sunny", {35, 0}},
        {"weather 1", {35, 1}},
        {"password s3cret", withText({27}, "s3cret")},
        {"motd-reload", {26}},
        {"reset-scores", {30}},
        {"reset-money", {34}},
        {"add-money 1000", {38, 0xE8, 0x03, 0, 0}},
        {"add-money -2", {38, 0xFE, 0xFF, 0xFF, 0xFF}},
        {"shutdown", {18}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(parsed(c.line).datagram, c.datagram);
    }
    // Asked for, or read from a file, before the login.
    EXPECT_TRUE(parsed("password").datagram.empty());
    EXPECT_TRUE(parsed("motd-save motd.txt").datagram.empty());
}

TEST(ZevadminCommand, RefusesWhatTheServerWouldIgnoreOrMangle) {
    const std::string lines[] = {
        "",
        "kick",
        "kick 3 4",
        "kick 128",
        "kick -1",
        "kick three",
        "time 24 0",
        "time 12 60",
        "time 12",
        "time 12:",
        "weather snow",
        "weather 4",
        "ban-ip 1.2.3.4x5",                // the server would ban 1.2.3.45
        "ban-ip 111.111.111.111.111.111",  // past the 20 bytes the server reads
        "unban 0123456789012345678901234567890123",
        "say /kick 3",  // the server drops it without a word
        "say /msg bob hi",
        "say " + std::string(127, 'x'),
        "msg a,b,c,d hi",
        "msg thirteen-long hi",
        "msg a,,b hi",
        "msg bob " + std::string(120, 'x'),
        "add-money 2147483648",
        "add-money 1e3",
        "password " + std::string(33, 'p'),
        "bans now",
        "frobnicate",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        Command command;
        std::string error;
        EXPECT_FALSE(parseCommand(words(line), &command, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(ZevadminCommand, MotdSaveKeepsTheLastCharacterTheServerDrops) {
    Bytes datagram;
    std::string error;
    ASSERT_TRUE(encodeMotdSave("Welcome", &datagram, &error));
    EXPECT_EQ(datagram, withText({40, 0, 0, 0, 0}, "Welcome\n"));
    ASSERT_TRUE(encodeMotdSave("Two\nlines\n", &datagram, &error));
    EXPECT_EQ(datagram, withText({40, 0, 0, 0, 0}, "Two\nlines\n"));
    EXPECT_TRUE(encodeMotdSave(std::string(998, 'm'), &datagram, &error));
    EXPECT_FALSE(encodeMotdSave(std::string(999, 'm'), &datagram, &error));
    EXPECT_FALSE(encodeMotdSave(std::string("a\0b", 3), &datagram, &error));
}

TEST(ZevadminOptions, ConnectionOptionsThenTheCommand) {
    const char* const argv[] = {"zevadmin",   "-H",     "server.example", "--port=4100", "-l",
                                "2",          "--nick", "Boss",           "-t",          "0.5",
                                "--password", "pw",     "add-money",      "-5"};
    Options options;
    std::string error;
    ASSERT_TRUE(parseOptions(14, argv, &options, &error)) << error;
    EXPECT_EQ(options.host, "server.example");
    EXPECT_EQ(options.port, 4100);
    EXPECT_EQ(options.level, 2);
    EXPECT_EQ(options.nick, "Boss");
    EXPECT_EQ(options.timeoutMs, 500);
    EXPECT_TRUE(options.havePassword);
    EXPECT_EQ(options.command, (std::vector<std::string>{"add-money", "-5"}));

    const std::vector<std::vector<const char*>> bad = {
        {"zevadmin", "--level", "3"},
        {"zevadmin", "--port", "0"},
        {"zevadmin", "--nick", "fourteen-long!"},
        {"zevadmin", "--nick", "a|b"},
        {"zevadmin", "--timeout", "soon"},
        {"zevadmin", "--port"},
        {"zevadmin", "--colour", "bans"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args[1]);
        Options rejected;
        EXPECT_FALSE(parseOptions(static_cast<int>(args.size()), args.data(), &rejected, &error));
    }
}

TEST(ZevadminProtocol, LoginRequestLayout) {
    EXPECT_EQ(encodeLogin(2, "Boss", "pw"), withText({13, '0', 2}, "Boss|pw"));
    EXPECT_EQ(encodeLogin(1, "A", std::string(1018, 'p')).size(), kMaxDatagram);
    EXPECT_TRUE(encodeLogin(1, "A", std::string(1019, 'p')).empty());
}

TEST(ZevadminProtocol, LoginReplyGivesTheIdAndThePlayers) {
    LoginInfo info;
    Bytes liberty = loginReply(1, 4, {{0, 3, 250, true, "Ann"}, {2, -1, -7, true, "Bob"}});
    ASSERT_TRUE(decodeLoginReply(liberty.data(), liberty.size(), &info));
    EXPECT_EQ(info.adminId, 4);
    EXPECT_EQ(info.serverName, "Test Server");
    EXPECT_EQ(info.motdUrl, "http://motd.example");
    EXPECT_EQ(std::vector<int>({info.hour, info.minute, info.weather, info.maxPlayers}),
              std::vector<int>({23, 59, 2, 32}));
    ASSERT_EQ(info.players.size(), 2u);
    EXPECT_EQ(info.players[1].nick, "Bob");
    EXPECT_EQ(info.players[1].score, -1);
    EXPECT_EQ(info.players[1].money, -7);

    // Vice City entries carry no money; an entry cut at the end is left out.
    Bytes vice = loginReply(2, 0, {{1, 5, 0, false, "Cy"}, {3, 0, 0, false, "Dee"}});
    vice.pop_back();
    ASSERT_TRUE(decodeLoginReply(vice.data(), vice.size(), &info));
    ASSERT_EQ(info.players.size(), 1u);
    EXPECT_EQ(info.players[0].nick, "Cy");
    EXPECT_EQ(info.players[0].score, 5);

    Bytes cut(liberty.begin(), liberty.begin() + 325);
    EXPECT_FALSE(decodeLoginReply(cut.data(), cut.size(), &info));
    const Bytes refusal{6, 4};
    EXPECT_FALSE(decodeLoginReply(refusal.data(), refusal.size(), &info));
}

TEST(ZevadminProtocol, EveryLoginRefusalIsASentence) {
    struct Case {
        int reason;
        const char* words;
    };
    const Case cases[] = {
        {0, "nick 'Boss' is already used"},
        {1, "address is banned"},
        {2, "already logged in from this address and port"},
        {4, "wrong password"},
        {6, "did not understand"},
        {11, "admin+) is not enabled"},
        {-1, "without giving a reason"},
        {99, "reason 99"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_NE(refusalSentence(c.reason, "Boss").find(c.words), std::string::npos)
            << refusalSentence(c.reason, "Boss");
    }
}

TEST(ZevadminEvents, NoticesBecomeLinesThatNameThePlayers) {
    Roster roster;
    roster.reset({{0, 0, 0, true, "Ann"}});
    EventOptions options;
    struct Case {
        Bytes datagram;
        const char* line;
    };
    const Case cases[] = {
        {withText({8, 1, 'B', 'o', 'b', 0}, "127.0.0.11", false), "join: Bob (#1) from 127.0.0.11"},
        {withText({3, 1, 0}, "hello"), "chat Bob (#1): hello"},
        {withText({3, 0, 0}, "/msg bob,#2 psst"), "private Ann (#0) to bob,#2: psst"},
        {withText({3, 7, 0}, "/msgr psst"), "private message sent: psst"},
        {withText({3, 9, 0}, "bell\x07"), "chat #9: bell\\x07"},
        {{11, 0, 1, 16, 0, 0, 0}, "kill: Bob (#1) killed Ann (#0) (weapon 16)"},
        {{11, 0, 0xFF, 16, 0, 0, 0}, "death: Ann (#0) was killed (weapon 16)"},
        {{11, 1, 1, 4, 0, 0, 0}, "death: Bob (#1) killed themself (weapon 4)"},
        {{11, 0, 100}, "death: Ann (#0) died"},
        {{12, 1, 0xFF, 0xFF}, "score: Bob (#1) -1"},
        {{22, 0, 40, 0}, "ping: Ann (#0) 40 ms"},
        {{32, 7, 5, 0}, "time 7:05"},
        {{33, 3}, "weather Fog"},
        {{31, 23, 59}, "time set by an admin to 23:59"},
        {{35, 2}, "weather set by an admin to Rain"},
        {{30}, "scores reset by an admin"},
        {{34}, "money reset by an admin"},
        {{36, 0, 0x10, 0x27, 0, 0}, "money: Ann (#0) 10000"},
        {{38, 0xFB, 0xFF, 0xFF, 0xFF}, "money: an admin added -5 for every player"},
        {withText({17}, "1.2.3.4|10.0.0.0|", false), "bans: 1.2.3.4 10.0.0.0"},
        {{17}, "bans: none"},
        {withText({29, 1}, "127.0.0.11", false), "address of Bob (#1): 127.0.0.11"},
        {{18, 4}, "remote shutdown is disabled on the server (AdminAllowShutdown)"},
        {{9, 1, 1}, "quit: Bob (#1), kicked or banned by an admin"},
        {{9, 2, 1}, "quit: #1, timed out"},
        {{4}, ""},
        {{10, 0, 0, 0, 0, 0x80, 0x3F}, ""},
        {{200, 1, 2}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(formatEvent(c.datagram.data(), c.datagram.size(), roster, options), c.line);
    }
    options.showPings = false;
    const Bytes ping{22, 0, 40, 0};
    EXPECT_EQ(formatEvent(ping.data(), ping.size(), roster, options), "");
}

TEST(ZevadminEvents, AnyDatagramIsReadWithinItsBytes) {
    // Every code with every length up to a full datagram of 0xFF bytes: short ones show
    // nothing, none reads past its end (the sanitizer build checks), and the roster stays sane.
    Roster roster;
    EventOptions options;
    const Bytes fill(kMaxDatagram, 0xFF);
    for (int code = 0; code < 256; ++code) {
        Bytes datagram = fill;
        datagram[0] = static_cast<unsigned char>(code);
        for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3},
                                 std::size_t{6}, kMaxDatagram}) {
            formatEvent(datagram.data(), size, roster, options);
            LoginInfo info;
            decodeLoginReply(datagram.data(), size, &info);
            for (const char* line : {"kick 3", "bans", "motd-save f", "shutdown", "say hi"}) {
                Request request(parsed(line), 0);
                std::vector<Bytes> resend;
                request.offer(datagram.data(), size, roster, &resend);
            }
        }
    }
    EXPECT_LE(roster.size(), 256u);
}

TEST(ZevadminRequest, CommandsWithoutAReplyAreSettledByTheBanListBarrier) {
    Roster roster;
    roster.reset({{3, 0, 0, true, "Ann"}});
    const Bytes barrier{17};

    Request kick(parsed("kick 3"), 0);
    EXPECT_EQ(kick.start(), (std::vector<Bytes>{{14, 3}, {17}}));
    const Bytes other{9, 1, 4};
    const Bytes ping{22, 3, 10, 0};
    EXPECT_EQ(feed(kick, {other, ping}, roster), 0);
    EXPECT_EQ(feed(kick, {{9, 1, 3}}, roster), 1);
    EXPECT_FALSE(kick.done());  // its barrier's answer still belongs to it
    EXPECT_EQ(feed(kick, {barrier}, roster), 1);
    EXPECT_EQ(kick.state(), RequestState::Succeeded);
    EXPECT_EQ(kick.message(), "kicked Ann (#3)");

    Request missing(parsed("ip 5"), 0);
    EXPECT_EQ(feed(missing, {barrier}, roster), 1);
    EXPECT_EQ(missing.state(), RequestState::Failed);
    EXPECT_EQ(missing.message(), "no player with id 5");

    Request ip(parsed("ip 3"), 0);
    feed(ip, {withText({29, 3}, "10.1.2.3", false), barrier}, roster);
    EXPECT_EQ(ip.state(), RequestState::Succeeded);
    EXPECT_EQ(ip.message(), "10.1.2.3");

    // Random weather off: the server stores the weather without a word, which is success.
    Request quiet(parsed("weather rain"), 0);
    feed(quiet, {barrier}, roster);
    EXPECT_EQ(quiet.state(), RequestState::Succeeded);
    Request announced(parsed("weather rain"), 0);
    feed(announced, {{35, 2}, barrier}, roster);
    EXPECT_EQ(announced.message(), "weather set to Rain");

    // The chat echo is recognised by this admin's id and the text, not a player's line.
    Request say(parsed("say hi"), 2);
    EXPECT_EQ(feed(say, {withText({3, 2, 0}, "hello"), withText({3, 1, 0}, "hi")}, roster), 0);
    feed(say, {withText({3, 2, 0}, "hi"), barrier}, roster);
    EXPECT_EQ(say.state(), RequestState::Succeeded);
    Request msg(parsed("msg bob hi there"), 2);
    feed(msg, {withText({3, 2, 0}, "/msgr hi there"), barrier}, roster);
    EXPECT_EQ(msg.state(), RequestState::Succeeded);
}

TEST(ZevadminRequest, RepliesEndTheirCommands) {
    Roster roster;
    struct Case {
        const char* line;
        std::vector<Bytes> replies;
        RequestState state;
        const char* message;
    };
    const Case cases[] = {
        {"ban-ip 1.2", {{28, 0}}, RequestState::Failed, "the server refused to ban '1.2'"},
        {"unban 1.2.3.4", {{16, 1}}, RequestState::Succeeded, "unbanned '1.2.3.4'"},
        {"unban 1.2.3.4", {{16, 0}}, RequestState::Failed, "no ban-list entry"},
        {"password pw", {{27, 0}}, RequestState::Failed, "kept its password"},
        {"motd-reload", {{26, 1}}, RequestState::Succeeded, "reloaded"},
        {"bans",
         {withText({17}, "1.2.3.4|10.0.0.0|", false)},
         RequestState::Succeeded,
         "1.2.3.4\n10.0.0.0"},
        {"shutdown", {{18, 1}, {18, 3}}, RequestState::Succeeded, "shutting down"},
        {"shutdown", {{18, 2}, {18, 3}}, RequestState::Succeeded, "shutting down"},
        {"shutdown", {{18, 4}}, RequestState::Failed, "disabled"},
        {"shutdown", {{18, 2}, {18, 2}, {18, 2}}, RequestState::Failed, "too late"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Request request(parsed(c.line), 0);
        std::vector<Bytes> resent;
        EXPECT_EQ(feed(request, c.replies, roster, &resent), static_cast<int>(c.replies.size()));
        EXPECT_EQ(request.state(), c.state);
        EXPECT_NE(request.message().find(c.message), std::string::npos) << request.message();
        // A second shutdown request follows each "armed" answer, at most twice.
        if (std::string(c.line) == "shutdown") {
            EXPECT_EQ(resent.size(), std::min<std::size_t>(c.replies.size() - 1, 2));
        }
    }
}

TEST(ZevadminRequest, MotdSaveWaitsForBothAnswers) {
    Roster roster;
    struct Case {
        Bytes saved;
        Bytes reloaded;
        RequestState state;
    };
    const Case cases[] = {
        {{40, 1}, {26, 1}, RequestState::Succeeded},
        {{40, 0}, {26, 1}, RequestState::Failed},
        {{40, 1}, {26, 0}, RequestState::Failed},
    };
    for (const Case& c : cases) {
        Command command = parsed("motd-save motd.txt");
        std::string error;
        ASSERT_TRUE(encodeMotdSave("hi", &command.datagram, &error));
        Request request(command, 0);
        // A reload answer before the save's is another command's.
        EXPECT_EQ(feed(request, {{26, 1}}, roster), 0);
        feed(request, {c.saved}, roster);
        EXPECT_FALSE(request.done());
        feed(request, {c.reloaded}, roster);
        EXPECT_EQ(request.state(), c.state);
    }
}

TEST(ZevadminRequest, ABanListNearTheReplyLimitMayBeCut) {
    Roster roster;
    Request full(parsed("bans"), 0);
    feed(full, {withText({17}, std::string(1008, '1') + "|", false)}, roster);
    EXPECT_FALSE(full.note().empty());
    Request small(parsed("bans"), 0);
    feed(small, {{17}}, roster);
    EXPECT_EQ(small.message(), "");
    EXPECT_TRUE(small.note().empty());
}

TEST(ZevadminConnection, TakesTheServerPortFromAnyAddressAndHearsAClosedPort) {
    // A server bound to all interfaces, dialled at 127.0.0.2, answers from 127.0.0.1.
    sockaddr_in serverAddress{};
    sockaddr_in otherAddress{};
    int server = boundSocket("0.0.0.0", &serverAddress);
    int other = boundSocket("127.0.0.2", &otherAddress);
    ASSERT_GE(server, 0);
    ASSERT_GE(other, 0);
    Connection connection;
    std::string error;
    ASSERT_TRUE(connection.open("127.0.0.2", ntohs(serverAddress.sin_port), &error)) << error;
    ASSERT_TRUE(connection.send(Bytes{5}));
    unsigned char buffer[16];
    sockaddr_in client{};
    socklen_t clientSize = sizeof(client);
    pollfd ready{server, POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 2000), 1);
    ASSERT_EQ(recvfrom(server, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&client),
                       &clientSize),
              1);

    // A datagram from another port is not the server's, even from the dialled address.
    const unsigned char stranger = 9;
    const unsigned char ping = 4;
    auto to = reinterpret_cast<const sockaddr*>(&client);
    ASSERT_EQ(sendto(other, &stranger, 1, 0, to, clientSize), 1);
    ASSERT_EQ(sendto(server, &ping, 1, 0, to, clientSize), 1);
    Bytes datagram;
    EXPECT_EQ(nextResult(connection, &datagram), Connection::Result::Datagram);
    EXPECT_EQ(datagram, (Bytes{4}));

    close(server);
    ASSERT_TRUE(connection.send(Bytes{5}));
    EXPECT_EQ(nextResult(connection, &datagram), Connection::Result::Refused);
    close(other);
}
