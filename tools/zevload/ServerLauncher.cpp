#include "ServerLauncher.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ProcStat.h"

namespace zevload {

namespace {

constexpr const char* kReadyText = "Server successfully started on port";
constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 3000;

void sleepMillis(int millis) {
    timespec pause{0, static_cast<long>(millis) * 1000000L};
    nanosleep(&pause, nullptr);
}

// A port on 127.0.0.1 that was free a moment ago.
int pickFreePort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

std::string configurationText(int port, const std::string& directory) {
    return "ServerName \"zevload\"\n"
           "ServerPort " +
           std::to_string(port) +
           "\n"
           "GameIPAddress 127.0.0.1\n"
           "GameMap 3\n"
           "MaxPlayers 32\n"
           "GameHour 12\n"
           "GameMins 0\n"
           "BannedFile banned.txt\n"
           "LogFile " +
           directory + "/server.log\n";
}

[[noreturn]] void execServer(const std::string& binary, const std::string& directory, int cpu,
                             pid_t parent) {
    // The server must not outlive a generator that dies before it could stop it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    if (cpu < 0) unpin();
    if (cpu >= 0 && !pinToCpu(cpu)) _exit(125);
    if (chdir(directory.c_str()) != 0) _exit(124);
    int in = open("/dev/null", O_RDONLY);
    int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(123);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::string program = binary;
    char* argv[] = {program.data(), nullptr};
    execv(argv[0], argv);
    _exit(127);
}

void describeFailure(const LaunchedServer& server, const char* what) {
    std::fprintf(stderr, "zevload: the server did not start (%s). Its output:\n%s%s", what,
                 readFile(server.directory + "/stdout.txt").c_str(),
                 readFile(server.directory + "/stderr.txt").c_str());
}

}  // namespace

bool launchServer(const std::string& binary, int cpu, LaunchedServer* server) {
    std::error_code error;
    std::string absolute = std::filesystem::absolute(binary, error).string();
    if (error || access(absolute.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "zevload: %s is not an executable\n", binary.c_str());
        return false;
    }
    char pattern[] = "/tmp/zevload.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::fprintf(stderr, "zevload: cannot make a temporary directory: %s\n",
                     std::strerror(errno));
        return false;
    }
    server->directory = pattern;
    server->port = pickFreePort();
    if (server->port == 0 ||
        !writeFile(server->directory + "/zevserver.conf",
                   configurationText(server->port, server->directory)) ||
        !writeFile(server->directory + "/banned.txt", "")) {
        std::fprintf(stderr, "zevload: cannot write the server's configuration\n");
        stopServer(server);
        return false;
    }
    pid_t parent = getpid();
    server->pid = fork();
    if (server->pid < 0) {
        std::fprintf(stderr, "zevload: cannot fork the server: %s\n", std::strerror(errno));
        stopServer(server);
        return false;
    }
    if (server->pid == 0) execServer(absolute, server->directory, cpu, parent);

    for (int waited = 0; waited < kStartTimeoutMs; waited += 10) {
        if (readFile(server->directory + "/stdout.txt").find(kReadyText) != std::string::npos) {
            return true;
        }
        int status = 0;
        if (waitpid(server->pid, &status, WNOHANG) == server->pid) {
            server->pid = -1;
            describeFailure(*server, "it exited");
            stopServer(server);
            return false;
        }
        sleepMillis(10);
    }
    describeFailure(*server, "no start-up line within 5 s");
    stopServer(server);
    return false;
}

void stopServer(LaunchedServer* server) {
    if (server->pid > 0) {
        kill(server->pid, SIGTERM);
        bool gone = false;
        for (int waited = 0; waited < kStopTimeoutMs && !gone; waited += 10) {
            gone = waitpid(server->pid, nullptr, WNOHANG) == server->pid;
            if (!gone) sleepMillis(10);
        }
        if (!gone) {
            kill(server->pid, SIGKILL);
            waitpid(server->pid, nullptr, 0);
        }
        server->pid = -1;
    }
    if (!server->directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(server->directory, ignored);
        server->directory.clear();
    }
}

}  // namespace zevload
