// Starts the real zevserver binary in a temporary working directory, collects what it prints,
// and never leaves a process behind. Console output goes to "stdout.txt" and "stderr.txt" in
// the working directory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/TempDir.h"

// The lines of a configuration file. Values are written as given (quote them yourself when
// they hold spaces); a key mapped to an empty string is written alone on its line.
struct TestConfig {
    std::map<std::string, std::string> entries;

    // A valid Liberty City configuration on a free game port, logging to "server.log".
    static TestConfig standard();
    std::uint16_t gamePort() const;
    std::string text() const;
    // Opens the admin port on `port` with remote shutdown allowed; admin+ too when
    // `plusPassword` is not empty.
    void enableAdmin(std::uint16_t port, const std::string& password,
                     const std::string& plusPassword = "");
};

class ServerProcess {
public:
    ServerProcess();
    // Kills whatever is still running and fails the test on a sanitizer report.
    ~ServerProcess();

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    TempDir& dir() { return m_dir; }

    // Servers started from now on may not write a file past `bytes` (RLIMIT_FSIZE), as on a
    // full disk; 0 lifts the limit.
    void setFileSizeLimit(long bytes) { m_fileSizeLimit = bytes; }

    // Writes `config` to "zevserver.conf" in the working directory.
    void writeConfig(const TestConfig& config);
    // Runs the binary with `args` (argv[0] is added) from the working directory.
    bool start(const std::vector<std::string>& args = {});
    // Starts and waits for "Server successfully started on port" on the console.
    bool startAndWaitReady(const std::vector<std::string>& args = {}, int timeoutMs = 10000);

    // Starts with "-b" in front of `args`, waits for the parent to exit with status 0, for
    // `readyText` in the log file `logName` and for the detached child to be found. `readyText`
    // must be written after the server has detached, so that its signal handlers are in place.
    bool startDetached(const std::vector<std::string>& args = {},
                       const std::string& readyText = "Server successfully started on port",
                       const std::string& logName = "server.log", int timeoutMs = 10000);

    // Waits for the started process to end; false on timeout. `status` gets its exit status.
    bool waitForExit(int* status, int timeoutMs = 10000);
    // Polls the named file of the working directory until it contains `text`.
    bool waitForText(const std::string& file, const std::string& text, int timeoutMs = 10000);

    // The process that runs the server after a "-b" start (the detached child); -1 when none
    // is found. Waits up to `timeoutMs` for it to appear.
    pid_t findDaemon(int timeoutMs = 5000);
    // Sends SIGTERM to the detached child and waits for it to be gone; false on timeout.
    bool stopDaemon(int timeoutMs = 10000);
    // Sends `signal` to the started process.
    void signal(int signal);
    pid_t pid() const { return m_pid; }

    std::string consoleText() const { return m_dir.read("stdout.txt"); }
    std::string errorText() const { return m_dir.read("stderr.txt"); }
    std::string logText(const std::string& name = "server.log") const { return m_dir.read(name); }

private:
    TempDir m_dir;
    pid_t m_pid = -1;
    pid_t m_daemon = -1;
    bool m_reaped = false;
    long m_fileSizeLimit = 0;
};

// Polls `condition` until it holds; false when it still does not after `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
// The lines of `text`, without their line ends.
std::vector<std::string> splitLines(const std::string& text);
// Whether `lines` holds `expected` as consecutive lines.
bool containsLines(const std::vector<std::string>& lines, const std::vector<std::string>& expected);
// Whether `line` starts with the "(hh:mm:ss) " time prefix.
bool hasTimePrefix(const std::string& line);
// `line` without its time prefix (unchanged when it has none).
std::string stripTimePrefix(const std::string& line);
// The lines of `text` without their time prefixes.
std::vector<std::string> strippedLines(const std::string& text);
