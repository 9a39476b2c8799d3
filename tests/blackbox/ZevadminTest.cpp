#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "support/AdminServerTest.h"
#include "support/ServerProcess.h"
#include "support/TestClient.h"
#include "support/UdpPeer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPassword = "admin-secret";
constexpr const char* kPlusPassword = "plus-secret";

int millisLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// zevadmin as a child process: standard input from a pipe, both outputs collected, and an
// environment without the caller's ZEVADMIN_PASSWORD plus `env`. The child runs in a session
// of its own, without a terminal, so a missing password is an error rather than a prompt. A
// sanitizer report in its output fails the test.
class AdminProcess {
public:
    explicit AdminProcess(const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}) {
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        std::vector<std::string> words{ZEVADMIN_PATH};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::strncmp(*entry, "ZEVADMIN_PASSWORD=", 18) != 0) environment.push_back(*entry);
        }
        environment.insert(environment.end(), env.begin(), env.end());
        m_pid = fork();
        if (m_pid == 0) {
            setsid();
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            execve(ZEVADMIN_PATH, pointers(words).data(), pointers(environment).data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
    }

    ~AdminProcess() {
        closeInput();
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) close(m_out);
        if (m_err >= 0) close(m_err);
    }

    bool write(const std::string& text) {
        return m_in >= 0 &&
               ::write(m_in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    void closeInput() {
        if (m_in >= 0) close(m_in);
        m_in = -1;
    }

    void signal(int number) { kill(m_pid, number); }

    bool waitForOutput(const std::string& text, int timeoutMs = 5000) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_outText.find(text) == std::string::npos) {
            if (millisLeft(deadline) == 0) return false;
            readOutputs(std::min(millisLeft(deadline), 50));
        }
        return true;
    }

    bool waitForExit(int* status, int timeoutMs = 10000) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (millisLeft(deadline) > 0) {
            readOutputs(20);
            int raw = 0;
            if (waitpid(m_pid, &raw, WNOHANG) != m_pid) continue;
            m_reaped = true;
            *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            while (readOutputs(20)) {
            }
            for (const char* mark : {"Sanitizer", "runtime error:"}) {
                if (m_errText.find(mark) != std::string::npos) {
                    ADD_FAILURE() << "zevadmin reported a memory error:\n" << m_errText;
                }
            }
            return true;
        }
        return false;
    }

    const std::string& out() const { return m_outText; }
    const std::string& err() const { return m_errText; }

private:
    static std::vector<char*> pointers(std::vector<std::string>& words) {
        std::vector<char*> out;
        for (std::string& word : words) out.push_back(word.data());
        out.push_back(nullptr);
        return out;
    }

    // Reads what the child wrote within `timeoutMs`; false once nothing more came.
    bool readOutputs(int timeoutMs) {
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) <= 0) return false;
        bool got = false;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n <= 0) continue;
            (i == 0 ? m_outText : m_errText).append(buffer, static_cast<std::size_t>(n));
            got = true;
        }
        return got;
    }

    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
};

struct AdminRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs zevadmin to its end with empty input.
AdminRun runAdmin(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    AdminProcess process(args, env);
    process.closeInput();
    AdminRun run;
    EXPECT_TRUE(process.waitForExit(&run.status, 20000)) << "zevadmin did not end";
    run.out = process.out();
    run.err = process.err();
    return run;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

Bytes withText(Bytes head, const std::string& text, bool nul = true) {
    head.insert(head.end(), text.begin(), text.end());
    if (nul) head.push_back(0);
    return head;
}

// zevadmin runs from 127.0.0.1.
class ZevadminTest : public AdminServerTest {
protected:
    ZevadminTest() : AdminServerTest(kPassword, kPlusPassword) {}

    // The connection options, then `command`, with the right password unless one is given.
    std::vector<std::string> args(const std::vector<std::string>& command,
                                  const std::string& password = kPassword) {
        std::vector<std::string> out{"--port", std::to_string(m_adminPort), "--password", password};
        out.insert(out.end(), command.begin(), command.end());
        return out;
    }

    AdminRun admin(const std::vector<std::string>& command) { return runAdmin(args(command)); }
};

}  // namespace

TEST(ZevadminCommandLine, HelpVersionAndLocalErrors) {
    AdminRun help = runAdmin({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"usage: zevadmin", "--password PASS", "ZEVADMIN_PASSWORD", "kick ID",
                             "weather W", "exit status:", "3  no answer in time"}) {
        EXPECT_TRUE(contains(help.out, part)) << part;
    }
    AdminRun version = runAdmin({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("zevadmin ", 0), 0u) << version.out;

    // Wrong before anything is sent: exit status 2 and a reason.
    const std::string port = std::to_string(pickFreeUdpPort());
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"--colour"}, "unknown option --colour"},
        {{"--level", "3", "bans"}, "bad value for --level"},
        {{"--port", port, "bans"}, "no password"},
        {{"--password", "x", "time", "25", "0"}, "the time is HOUR MINUTE"},
        {{"--password", "x", "weather", "snow"}, "sun, cloud, rain, fog"},
        {{"--password", "x", "motd-save", "/nonexistent/motd"}, "cannot read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        AdminRun run = runAdmin(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(contains(run.err, c.reason)) << run.err;
    }

    // Nothing on the port, or something that never answers: exit status 3.
    AdminRun closed = runAdmin({"--port", port, "--password", "x", "bans"});
    EXPECT_EQ(closed.status, 3);
    EXPECT_TRUE(contains(closed.err, "nothing listens on 127.0.0.1:" + port)) << closed.err;
    UdpPeer silent;
    AdminRun unanswered = runAdmin({"--port", std::to_string(silent.port()), "--timeout", "0.3",
                                    "--nick", "Boss", "--password", "pw", "bans"});
    EXPECT_EQ(unanswered.status, 3);
    EXPECT_TRUE(contains(
        unanswered.err,
        "no answer from 127.0.0.1:" + std::to_string(silent.port()) + " to the login within 0.3 s"))
        << unanswered.err;
    Bytes login;
    ASSERT_TRUE(silent.receive(login, 1000));
    EXPECT_EQ(login, withText({13, '0', 1}, "Boss|pw"));
    // The login may have got in with its answer lost: the quit leaves no admin behind that
    // would hold the nick until the server's timeout.
    Bytes quit;
    ASSERT_TRUE(silent.receive(quit, 1000));
    EXPECT_EQ(quit, (Bytes{2}));
}

TEST_F(ZevadminTest, LoginRefusalsAreSentences) {
    // Another admin holds the nick Boss.
    UdpPeer boss("127.0.0.50");
    ASSERT_TRUE(boss.sendTo(m_adminPort, withText({13, '0', 1}, std::string("Boss|") + kPassword)));
    Bytes reply;
    ASSERT_TRUE(boss.receive(reply, 2000));
    ASSERT_EQ(reply[0], 1);

    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> env;
        int status;
        const char* words;
    };
    const Case cases[] = {
        {args({"bans"}, "wrong"), {}, 1, "login refused: wrong password"},
        {args({"--level", "2", "bans"}), {}, 1, "login refused: wrong password"},
        {args({"--nick", "BOSS", "bans"}), {}, 1, "the nick 'BOSS' is already used"},
        // The environment stands in for --password, which wins over it.
        {{"--port", std::to_string(m_adminPort), "bans"},
         {std::string("ZEVADMIN_PASSWORD=") + kPassword},
         0,
         ""},
        {args({"bans"}), {"ZEVADMIN_PASSWORD=wrong"}, 0, ""},
        {args({"--level", "2", "bans"}, kPlusPassword), {}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        AdminRun run = runAdmin(c.args, c.env);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(contains(run.err, c.words)) << run.err;
    }

    AdminRun ban = admin({"ban-ip", "127.0.0.1"});
    ASSERT_EQ(ban.status, 0) << ban.err;
    AdminRun banned = admin({"bans"});
    EXPECT_EQ(banned.status, 1);
    EXPECT_TRUE(contains(banned.err, "login refused: this address is banned")) << banned.err;
}

TEST_F(ZevadminTest, KickAndIpFollowThePlayers) {
    TestClient ann = player(10);
    joinOk(ann, "Ann");
    AdminRun ip = admin({"ip", "0"});
    EXPECT_EQ(ip.status, 0) << ip.err;
    EXPECT_EQ(ip.out, "127.0.0.10\n");

    AdminRun kick = admin({"kick", "0"});
    EXPECT_EQ(kick.status, 0) << kick.err;
    EXPECT_EQ(kick.out, "kicked Ann (#0)\n");
    EXPECT_EQ(ann.waitFor(6), (Bytes{6, 3}));
    EXPECT_TRUE(
        m_server.waitForText("server.log", "KICKED: 'Ann', PlayerID = 0 by Admin zevadmin"));

    for (const char* command : {"kick", "ip"}) {
        SCOPED_TRACE(command);
        AdminRun again = admin({command, "0"});
        EXPECT_EQ(again.status, 1);
        EXPECT_EQ(again.out, "");
        EXPECT_TRUE(contains(again.err, "no player with id 0")) << again.err;
    }
    // Every run logs out rather than waiting to time out.
    EXPECT_TRUE(m_server.waitForText("server.log", "ADMIN-QUIT: 'zevadmin', ID = 0"));
    EXPECT_FALSE(contains(m_server.logText(), "quit due to timeout"));
}

TEST_F(ZevadminTest, BanListRoundTrip) {
    AdminRun ban = admin({"ban-ip", "1.2.3.4"});
    EXPECT_EQ(ban.status, 0) << ban.err;
    EXPECT_EQ(ban.out, "banned '1.2.3.4'\n");
    AdminRun refused = admin({"ban-ip", "1.2"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "the server refused to ban '1.2'")) << refused.err;
    ASSERT_EQ(admin({"ban-ip", "10.0.0.0"}).status, 0);

    AdminRun list = admin({"bans"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "1.2.3.4\n10.0.0.0\n");
    EXPECT_EQ(m_server.dir().read("banned.txt"), "1.2.3.4\n10.0.0.0\n");

    AdminRun unban = admin({"unban", "1.2.3.4"});
    EXPECT_EQ(unban.status, 0) << unban.err;
    EXPECT_EQ(unban.out, "unbanned '1.2.3.4'\n");
    AdminRun again = admin({"unban", "1.2.3.4"});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(contains(again.err, "no ban-list entry reads exactly '1.2.3.4'")) << again.err;
    EXPECT_EQ(admin({"bans"}).out, "10.0.0.0\n");
}

TEST_F(ZevadminTest, TimeWeatherAndMotdReachThePlayers) {
    TestClient ann = player(10);
    joinOk(ann, "Ann");
    AdminRun time = admin({"time", "23:59"});
    EXPECT_EQ(time.status, 0) << time.err;
    EXPECT_EQ(time.out, "game time set to 23:59\n");
    EXPECT_EQ(ann.waitFor(31), (Bytes{31, 23, 59}));
    EXPECT_TRUE(m_server.waitForText(
        "server.log", "CHANGE-TIME: Game Time Changed, Hour = '23', Minute = '59' By Admin"));

    // Random weather is off here: the server keeps the value without announcing it.
    AdminRun weather = admin({"weather", "rain"});
    EXPECT_EQ(weather.status, 0) << weather.err;
    EXPECT_TRUE(contains(weather.out, "weather set to Rain (random weather is off"));

    // A file without a final line end arrives whole.
    m_server.dir().write("new-motd.txt", "Hello\nthere");
    AdminRun save = admin({"motd-save", m_server.dir().file("new-motd.txt")});
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(save.out, "motd.txt saved and the message of the day reloaded\n");
    EXPECT_EQ(m_server.dir().read("motd.txt"), "Hello\nthere\n");
    TestClient bob = player(11);
    joinOk(bob, "Bob");
    EXPECT_EQ(bob.waitFor(21), withText({21}, "Hello\nthere"));
}

TEST_F(ZevadminTest, ShutdownSendsBothRequests) {
    AdminRun shutdown = admin({"shutdown"});
    EXPECT_EQ(shutdown.status, 0) << shutdown.err;
    EXPECT_EQ(shutdown.out, "the server is shutting down\n");
    int status = -1;
    ASSERT_TRUE(m_server.waitForExit(&status, 5000));
    EXPECT_EQ(status, 0);
}

TEST_F(ZevadminTest, InteractiveModeFollowsTheGameAndTakesCommands) {
    AdminProcess console(args({"--nick", "Boss"}));
    ASSERT_TRUE(console.waitForOutput("logged in to 'Test Server' as Boss (admin id 0, level 1)"))
        << console.out() << console.err();

    TestClient ann = player(10);
    joinOk(ann, "Ann");
    EXPECT_TRUE(console.waitForOutput("join: Ann (#0) from 127.0.0.10")) << console.out();
    ASSERT_TRUE(ann.send(withText({3, 0}, "hello admins")));
    EXPECT_TRUE(console.waitForOutput("chat Ann (#0): hello admins")) << console.out();
    ASSERT_TRUE(ann.send(Bytes{11, 100, 0}));
    EXPECT_TRUE(console.waitForOutput("death: Ann (#0) died")) << console.out();

    ASSERT_TRUE(console.write("say hi all\ntime 6 30\n"));
    EXPECT_TRUE(console.waitForOutput("say hi all: chat sent: hi all")) << console.out();
    EXPECT_TRUE(console.waitForOutput("time 6 30: game time set to 6:30")) << console.out();
    // Ann hears her own line first, then the admin's.
    EXPECT_EQ(ann.waitFor(3), withText({3, 0, 0}, "hello admins"));
    EXPECT_EQ(ann.waitFor(3), withText({3, 0, 0}, "hi all"));

    // The last line has no line end; the input ends with commands still on their way.
    ASSERT_TRUE(console.write("kick 7\nfrobnicate\nkick 0\nbans"));
    console.closeInput();
    int status = -1;
    ASSERT_TRUE(console.waitForExit(&status));
    for (const char* line :
         {"error: kick 7: no player with id 7", "error: unknown command 'frobnicate'",
          "kick 0: kicked Ann (#0)", "bans: none"}) {
        EXPECT_TRUE(contains(console.out(), line)) << line << "\n" << console.out();
    }
    // The first failure reported decides the exit status: the unknown command, found at once.
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(m_server.waitForText("server.log", "ADMIN-QUIT: 'Boss', ID = 0"));
}

TEST_F(ZevadminTest, AnswersFromAnotherAddressOfTheServerCount) {
    // The server listens on all interfaces; dialled at 127.0.0.2 it answers from 127.0.0.1.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        AdminRun bans = runAdmin(args({"-H", "127.0.0.2", "bans"}));
        EXPECT_EQ(bans.status, 0) << bans.err;
        EXPECT_EQ(bans.err, "");
    }
    EXPECT_FALSE(contains(m_server.logText(), "quit due to timeout"));
}

TEST_F(ZevadminTest, TheNewServerPasswordIsNeverEchoed) {
    // This server has no ServerPassword, so the change fails and the command line is echoed
    // with the failure: on stderr in one-shot mode, on stdout in the console.
    AdminRun once = admin({"password", "Hunter2"});
    EXPECT_EQ(once.status, 1);
    EXPECT_TRUE(contains(once.err, "password ****: the server kept its password")) << once.err;

    AdminProcess console(args({}));
    ASSERT_TRUE(console.write("password Hunter2\n"));
    console.closeInput();
    int status = -1;
    ASSERT_TRUE(console.waitForExit(&status));
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(contains(console.out(), "error: password ****: the server kept its password"))
        << console.out();
    for (const std::string& text : {once.out, once.err, console.out(), console.err()}) {
        EXPECT_FALSE(contains(text, "Hunter2")) << text;
    }
}

TEST_F(ZevadminTest, ASignalLogsOutAndSetsTheExitStatus) {
    AdminProcess console(args({"--nick", "Boss"}));
    ASSERT_TRUE(console.waitForOutput("logged in to 'Test Server' as Boss"))
        << console.out() << console.err();
    console.signal(SIGINT);
    int status = -1;
    ASSERT_TRUE(console.waitForExit(&status));
    EXPECT_EQ(status, 130);
    EXPECT_TRUE(m_server.waitForText("server.log", "ADMIN-QUIT: 'Boss', ID = 0"));

    // Stopped while the login is unanswered, it still sends the quit.
    UdpPeer silent;
    AdminProcess waiting({"--port", std::to_string(silent.port()), "--password", "pw", "bans"});
    Bytes login;
    ASSERT_TRUE(silent.receive(login, 5000));
    waiting.signal(SIGTERM);
    ASSERT_TRUE(waiting.waitForExit(&status));
    EXPECT_EQ(status, 143);
    Bytes last;
    Bytes datagram;
    while (silent.receive(datagram, 300)) last = datagram;
    EXPECT_EQ(last, (Bytes{2}));
}

TEST_F(ZevadminTest, PasswordPromptOnTheTerminalDoesNotEcho) {
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const std::string side = ptsname(terminal);
    const std::string port = std::to_string(m_adminPort);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int tty = open(side.c_str(), O_RDWR);  // the session's controlling terminal
        dup2(tty, 0);
        dup2(tty, 1);
        dup2(tty, 2);
        unsetenv("ZEVADMIN_PASSWORD");
        execl(ZEVADMIN_PATH, ZEVADMIN_PATH, "--port", port.c_str(), "ban-ip", "1.2.3.4",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::string seen;
    auto readUntil = [&](const std::string& text) {
        auto deadline = Clock::now() + std::chrono::milliseconds(5000);
        while (!contains(seen, text) && millisLeft(deadline) > 0) {
            pollfd fd{terminal, POLLIN, 0};
            if (poll(&fd, 1, millisLeft(deadline)) <= 0) break;
            char buffer[256];
            ssize_t n = read(terminal, buffer, sizeof(buffer));
            if (n <= 0) break;
            seen.append(buffer, static_cast<std::size_t>(n));
        }
        return contains(seen, text);
    };
    EXPECT_TRUE(readUntil("Password of zevadmin (admin level 1) at 127.0.0.1:" + port + ": "))
        << seen;
    ASSERT_EQ(write(terminal, "admin-secret\n", 13), 13);
    EXPECT_TRUE(readUntil("banned '1.2.3.4'")) << seen;
    EXPECT_FALSE(contains(seen, "admin-secret")) << seen;
    int raw = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(5000);
    while (waitpid(pid, &raw, WNOHANG) != pid && millisLeft(deadline) > 0) readUntil("\x01");
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    if (!WIFEXITED(raw)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(terminal);
}

TEST(ZevadminSession, AnswersPingsAndReadsAnyDatagramSafely) {
    UdpPeer server;
    AdminProcess console({"--port", std::to_string(server.port()), "--password", "pw"});
    Bytes login;
    sockaddr_in from{};
    ASSERT_TRUE(server.receive(login, 5000, &from));
    const std::uint16_t client = ntohs(from.sin_port);

    // The admin form of the join reply: a Vice City map, admin id 3, one player.
    Bytes reply{1, 2, 1, 0, 3, 26, 8, 15, 3};
    reply.resize(9 + 12);
    std::string name = "Fake";
    name.resize(50 + 255);
    reply = withText(reply, name, false);
    reply.insert(reply.end(), {4, 2, 0, 'C', 'y', 7});
    ASSERT_TRUE(server.sendTo(client, reply));
    ASSERT_TRUE(
        console.waitForOutput("map Vice City : Deathmatch, game mode 0, time 8:15, "
                              "weather Fog, 1 of 26 players"))
        << console.out() << console.err();
    EXPECT_TRUE(console.waitForOutput("player Cy (#4): score 2")) << console.out();

    ASSERT_TRUE(server.sendTo(client, Bytes{4}));
    Bytes answer;
    ASSERT_TRUE(server.receive(answer, 2000));
    EXPECT_EQ(answer, (Bytes{5}));

    // Every code, cut short or filled with 0xFF, each batch followed by a ping whose answer
    // shows the client alive and keeps the socket's queue short; then a notice that must still
    // come through.
    for (int code = 0; code < 256; ++code) {
        for (std::size_t size : {1, 2, 3, 8}) {
            Bytes junk(size, 0xFF);
            junk[0] = static_cast<std::uint8_t>(code);
            server.sendTo(client, junk);
        }
        server.sendTo(client, Bytes{4});
        ASSERT_TRUE(server.receive(answer, 2000)) << "no keep-alive after code " << code;
    }
    ASSERT_TRUE(server.sendTo(client, withText({8, 5, 'Z', 0}, "10.9.8.7", false)));
    EXPECT_TRUE(console.waitForOutput("join: Z (#5) from 10.9.8.7")) << console.err();

    console.closeInput();
    int status = -1;
    ASSERT_TRUE(console.waitForExit(&status));
    EXPECT_EQ(status, 0) << console.err();
    // The last word is the logout, after any keep-alives.
    Bytes last;
    Bytes datagram;
    while (server.receive(datagram, 300)) last = datagram;
    EXPECT_EQ(last, (Bytes{2}));
}
