#include "support/ServerProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "support/UdpPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

void sleepBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

// A zombie still answers kill(), and a detached child's reaper may be slow, so the state letter
// in /proc decides.
bool isAlive(pid_t pid) {
    if (pid <= 0 || kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(") ");
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

// ZEV_SERVER_WRAPPER (for example "valgrind --error-exitcode=99") is put in front of the server
// command, split at spaces; empty when unset.
std::vector<std::string> wrapperWords() {
    std::vector<std::string> words;
    const char* wrapper = std::getenv("ZEV_SERVER_WRAPPER");
    std::istringstream in(wrapper == nullptr ? "" : wrapper);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

// A wrapped server (valgrind) starts and runs many times slower.
int readinessTimeout(int timeoutMs) { return wrapperWords().empty() ? timeoutMs : timeoutMs * 10; }

std::string readLink(const std::string& path) {
    std::error_code error;
    std::filesystem::path target = std::filesystem::read_symlink(path, error);
    return error ? std::string() : target.string();
}

}  // namespace

TestConfig TestConfig::standard() {
    TestConfig config;
    config.entries = {
        {"ServerName", "\"Test Server\""},
        {"ServerPort", std::to_string(pickFreeUdpPort())},
        {"GameMap", "3"},
        {"MaxPlayers", "32"},
        {"GameHour", "12"},
        {"GameMins", "0"},
        {"BannedFile", "banned.txt"},
        {"LogFile", "server.log"},
    };
    return config;
}

std::uint16_t TestConfig::gamePort() const {
    auto it = entries.find("ServerPort");
    return it == entries.end() ? 0 : static_cast<std::uint16_t>(std::stoi(it->second));
}

void TestConfig::enableAdmin(std::uint16_t port, const std::string& password,
                             const std::string& plusPassword) {
    entries["AdminServer"] = "1";
    entries["AdminPort"] = std::to_string(port);
    entries["AdminPassword"] = password;
    entries["AdminAllowShutdown"] = "1";
    if (plusPassword.empty()) return;
    entries["AdminPlus"] = "1";
    entries["AdminPlusPassword"] = plusPassword;
}

std::string TestConfig::text() const {
    std::ostringstream out;
    for (const auto& [key, value] : entries) {
        out << key;
        if (!value.empty()) out << ' ' << value;
        out << '\n';
    }
    return out.str();
}

ServerProcess::ServerProcess() = default;

ServerProcess::~ServerProcess() {
    if (isAlive(m_daemon)) kill(m_daemon, SIGKILL);
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    std::string errors = errorText();
    // The sanitizers' reports, then memcheck's when the server runs under valgrind.
    for (const char* mark : {"Sanitizer", "runtime error:", "== Invalid ", "uninitialised",
                             "are definitely lost", "Mismatched free", "Source and destination"}) {
        if (errors.find(mark) != std::string::npos) {
            ADD_FAILURE() << "the server reported a memory error:\n" << errors;
            break;
        }
    }
}

void ServerProcess::writeConfig(const TestConfig& config) {
    m_dir.write("zevserver.conf", config.text());
}

bool ServerProcess::start(const std::vector<std::string>& args) {
    std::vector<std::string> words = wrapperWords();
    words.push_back(ZEVSERVER_PATH);
    words.insert(words.end(), args.begin(), args.end());
    std::string out = m_dir.file("stdout.txt");
    std::string err = m_dir.file("stderr.txt");
    m_reaped = false;
    m_pid = fork();
    if (m_pid < 0) return false;
    if (m_pid == 0) {
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        if (chdir(m_dir.path().c_str()) != 0) _exit(127);
        if (m_fileSizeLimit > 0) {
            rlimit limit{static_cast<rlim_t>(m_fileSizeLimit),
                         static_cast<rlim_t>(m_fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
        }
        int in = open("/dev/null", O_RDONLY);
        int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return true;
}

bool ServerProcess::startAndWaitReady(const std::vector<std::string>& args, int timeoutMs) {
    return start(args) && waitForText("stdout.txt", "Server successfully started on port",
                                      readinessTimeout(timeoutMs));
}

bool ServerProcess::startDetached(const std::vector<std::string>& args,
                                  const std::string& readyText, const std::string& logName,
                                  int timeoutMs) {
    std::vector<std::string> words = {"-b"};
    words.insert(words.end(), args.begin(), args.end());
    timeoutMs = readinessTimeout(timeoutMs);
    int status = -1;
    return start(words) && waitForExit(&status, timeoutMs) && status == 0 &&
           waitForText(logName, readyText, timeoutMs) && findDaemon(timeoutMs) > 0;
}

bool ServerProcess::waitForExit(int* status, int timeoutMs) {
    if (m_pid <= 0) return false;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        int raw = 0;
        pid_t done = waitpid(m_pid, &raw, WNOHANG);
        if (done == m_pid) {
            m_reaped = true;
            if (status != nullptr)
                *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return true;
        }
        sleepBriefly();
    }
    return false;
}

bool ServerProcess::waitForText(const std::string& file, const std::string& text, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (m_dir.read(file).find(text) != std::string::npos) return true;
        sleepBriefly();
    } while (Clock::now() < deadline);
    return false;
}

pid_t ServerProcess::findDaemon(int timeoutMs) {
    if (isAlive(m_daemon)) return m_daemon;
    // The detached child is the server binary running in this test's own working directory.
    std::string exe = std::filesystem::canonical(ZEVSERVER_PATH).string();
    std::string cwd = std::filesystem::canonical(m_dir.path()).string();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        DIR* proc = opendir("/proc");
        while (proc != nullptr) {
            dirent* entry = readdir(proc);
            if (entry == nullptr) break;
            pid_t candidate = static_cast<pid_t>(std::atoi(entry->d_name));
            if (candidate <= 0 || candidate == m_pid) continue;
            std::string base = std::string("/proc/") + entry->d_name;
            if (readLink(base + "/exe") == exe && readLink(base + "/cwd") == cwd) {
                m_daemon = candidate;
            }
        }
        if (proc != nullptr) closedir(proc);
        if (m_daemon > 0) return m_daemon;
        sleepBriefly();
    } while (Clock::now() < deadline);
    return -1;
}

bool ServerProcess::stopDaemon(int timeoutMs) {
    pid_t daemon = findDaemon();
    if (daemon <= 0) return false;
    kill(daemon, SIGTERM);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (!isAlive(daemon)) return true;
        sleepBriefly();
    }
    return !isAlive(daemon);
}

void ServerProcess::signal(int signalNumber) {
    if (m_pid > 0) kill(m_pid, signalNumber);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (condition()) return true;
        sleepBriefly();
    } while (Clock::now() < deadline);
    return false;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

bool containsLines(const std::vector<std::string>& lines,
                   const std::vector<std::string>& expected) {
    if (expected.empty()) return true;
    for (std::size_t start = 0; start + expected.size() <= lines.size(); ++start) {
        bool match = true;
        for (std::size_t i = 0; i < expected.size() && match; ++i) {
            match = lines[start + i] == expected[i];
        }
        if (match) return true;
    }
    return false;
}

bool hasTimePrefix(const std::string& line) {
    // "(hh:mm:ss) " with the hour padded by a space.
    const char* shape = "(#d:dd:dd) ";
    if (line.size() < 11) return false;
    for (std::size_t i = 0; i < 11; ++i) {
        char c = line[i];
        bool digit = c >= '0' && c <= '9';
        if (shape[i] == 'd' && !digit) return false;
        if (shape[i] == '#' && !digit && c != ' ') return false;
        if (shape[i] != 'd' && shape[i] != '#' && c != shape[i]) return false;
    }
    return true;
}

std::string stripTimePrefix(const std::string& line) {
    return hasTimePrefix(line) ? line.substr(11) : line;
}

std::vector<std::string> strippedLines(const std::string& text) {
    std::vector<std::string> lines = splitLines(text);
    for (std::string& line : lines) line = stripTimePrefix(line);
    return lines;
}
