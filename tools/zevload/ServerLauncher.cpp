#include "ServerLauncher.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ProcStat.h"

namespace zevload {

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

namespace {

constexpr const char* kReadyText = "Server successfully started on port";
constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 3000;

void sleepMillis(int millis) {
    timespec pause{0, static_cast<long>(millis) * 1000000L};
    nanosleep(&pause, nullptr);
}

bool isFreePort(int port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool free = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return free;
}

// A game port whose query port (the game port + 123) was free a moment ago as well.
int pickPortWithQueryPort() {
    constexpr int kQueryOffset = 123;
    for (int attempt = 0; attempt < 20; ++attempt) {
        int port = pickFreePort();
        if (port > 0 && port + kQueryOffset <= 65535 && isFreePort(port + kQueryOffset)) {
            return port;
        }
    }
    return 0;
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
                             bool background, pid_t parent) {
    // The server must not outlive a generator that dies before it could stop it. (A server in
    // background mode forks again, and its child does not inherit this; see stopOnSignals.)
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
    for (int fd : {in, out, err}) {
        if (fd > 2) close(fd);
    }
    std::string program = binary;
    std::string detach = "-b";
    char* argv[] = {program.data(), background ? detach.data() : nullptr, nullptr};
    execv(argv[0], argv);
    _exit(127);
}

std::string readLink(const std::string& path) {
    std::error_code error;
    std::filesystem::path target = std::filesystem::read_symlink(path, error);
    return error ? std::string() : target.string();
}

// The process running `exe` whose parent is this process: a background server's detached child,
// which this process adopted as the subreaper. -1 when there is none (yet).
pid_t findAdoptedChild(const std::string& exe) {
    pid_t self = getpid();
    pid_t found = -1;
    DIR* proc = opendir("/proc");
    while (proc != nullptr && found < 0) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr) break;
        int pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        std::string base = std::string("/proc/") + entry->d_name;
        std::string stat = readFile(base + "/stat");
        std::size_t close = stat.rfind(')');
        int parent = 0;
        char state = 0;
        if (close == std::string::npos ||
            std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2) {
            continue;
        }
        if (parent == self && readLink(base + "/exe") == exe) found = pid;
    }
    if (proc != nullptr) closedir(proc);
    return found;
}

volatile std::sig_atomic_t g_daemon = 0;

void killDaemonAndDie(int signal) {
    if (g_daemon > 0) kill(g_daemon, SIGKILL);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// While a background server runs, the signals that end this tool from outside take the server
// down first; it is no child of ours that a parent-death signal would reach.
void stopOnSignals(pid_t daemon) {
    g_daemon = daemon;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, daemon > 0 ? killDaemonAndDie : SIG_DFL);
    }
}

// Waits for the start-up line; in background mode also for the first process to exit with
// status 0, having detached its child. Leaves in `server->pid` the process that serves.
bool waitUntilReady(const std::string& exe, bool background, LaunchedServer* server,
                    const char** failure) {
    std::string console = server->directory + (background ? "/server.log" : "/stdout.txt");
    pid_t first = server->pid;
    bool firstEnded = false;
    for (int waited = 0; waited < kStartTimeoutMs; waited += 10) {
        int status = 0;
        if (!firstEnded && waitpid(first, &status, WNOHANG) == first) {
            firstEnded = true;
            if (!background || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                server->pid = -1;
                *failure = "it exited";
                return false;
            }
        }
        if ((firstEnded || !background) &&
            readFile(console).find(kReadyText) != std::string::npos) {
            pid_t serving = background ? findAdoptedChild(exe) : first;
            if (serving > 0) {
                server->pid = serving;
                if (background) stopOnSignals(serving);
                return true;
            }
        }
        sleepMillis(10);
    }
    if (firstEnded) server->pid = findAdoptedChild(exe);
    *failure = "no start-up line within 5 s";
    return false;
}

void describeFailure(const LaunchedServer& server, const char* what) {
    std::fprintf(stderr, "zevload: the server did not start (%s). Its output:\n%s%s", what,
                 readFile(server.directory + "/stdout.txt").c_str(),
                 readFile(server.directory + "/stderr.txt").c_str());
}

}  // namespace

bool launchServer(const std::string& binary, int cpu, LaunchedServer* server) {
    LaunchSetup setup;
    setup.binary = binary;
    setup.cpu = cpu;
    return launchServer(setup, server);
}

bool launchServer(const LaunchSetup& setup, LaunchedServer* server) {
    std::error_code error;
    std::string absolute = std::filesystem::absolute(setup.binary, error).string();
    if (error || access(absolute.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "zevload: %s is not an executable\n", setup.binary.c_str());
        return false;
    }
    char pattern[] = "/tmp/zevload.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::fprintf(stderr, "zevload: cannot make a temporary directory: %s\n",
                     std::strerror(errno));
        return false;
    }
    server->directory = pattern;
    server->port = setup.queryPort ? pickPortWithQueryPort() : pickFreePort();
    if (server->port == 0 ||
        !writeFile(server->directory + "/zevserver.conf",
                   configurationText(server->port, server->directory) + setup.extraConfiguration) ||
        !writeFile(server->directory + "/banned.txt", setup.banFile)) {
        std::fprintf(stderr, "zevload: cannot write the server's configuration\n");
        stopServer(server);
        return false;
    }
    if (setup.background) prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t parent = getpid();
    server->pid = fork();
    if (server->pid < 0) {
        std::fprintf(stderr, "zevload: cannot fork the server: %s\n", std::strerror(errno));
        stopServer(server);
        return false;
    }
    if (server->pid == 0) {
        execServer(absolute, server->directory, setup.cpu, setup.background, parent);
    }
    const char* failure = "";
    std::string exe = std::filesystem::canonical(absolute, error).string();
    if (waitUntilReady(exe, setup.background, server, &failure)) return true;
    describeFailure(*server, failure);
    stopServer(server);
    return false;
}

bool terminateServer(LaunchedServer* server, int timeoutMs, int* status) {
    *status = 0;
    if (server->pid <= 0) return false;
    kill(server->pid, SIGTERM);
    bool gone = false;
    for (int waited = 0; waited < timeoutMs && !gone; waited += 10) {
        gone = waitpid(server->pid, status, WNOHANG) == server->pid;
        if (!gone) sleepMillis(10);
    }
    if (!gone) {
        kill(server->pid, SIGKILL);
        waitpid(server->pid, status, 0);
    }
    server->pid = -1;
    return gone;
}

void stopServer(LaunchedServer* server) {
    int status = 0;
    terminateServer(server, kStopTimeoutMs, &status);
    if (!server->directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(server->directory, ignored);
        server->directory.clear();
    }
}

}  // namespace zevload
