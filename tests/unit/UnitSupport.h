// Shared vocabulary of the unit tests: a fixture that gives each test fresh singletons, a
// captured console and a pinned clock, plus small helpers for the command line, the
// configuration store and the working directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "core/ArgumentList.h"
#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

// 03:04:05 on the pinned clock, whose local time is UTC.
constexpr std::time_t kPinnedWall = 3 * 3600 + 4 * 60 + 5;
constexpr const char* kPinnedPrefix = "( 3:04:05) ";

// Destroys the singletons of the core so that the next getInstance() builds fresh ones.
inline void resetCoreSingletons() {
    delete Log::getInstance();
    delete Conf::getInstance();
    delete ArgumentList::getInstance();
}

// Parses `words` as the arguments after the program name.
inline int parseArgs(const std::vector<const char*>& words) {
    std::vector<const char*> argv{"zevserver"};
    argv.insert(argv.end(), words.begin(), words.end());
    return ArgumentList::getInstance()->parseArguments(static_cast<int>(argv.size()), argv.data());
}

// Stores `valueText` under `key` by the configuration file's splitting rules.
inline void setConf(const std::string& key, const std::string& valueText) {
    Conf::getInstance()->addConfEntry(key, valueText);
}

// Changes the working directory for its lifetime.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path) {
        char buffer[4096];
        if (getcwd(buffer, sizeof(buffer)) != nullptr) m_previous = buffer;
        m_changed = chdir(path.c_str()) == 0;
    }
    ~WorkingDirectory() {
        // Nothing useful can be done in a destructor when the way back is gone.
        if (m_changed && !m_previous.empty() && chdir(m_previous.c_str()) != 0) m_changed = false;
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    bool changed() const { return m_changed; }

private:
    std::string m_previous;
    bool m_changed = false;
};

// Fresh Log, Conf and ArgumentList for every test; console output lands in console().
class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetCoreSingletons();
        Clock::pin(kPinnedWall, 0);
        Log::getInstance()->setConsole(&m_console);
    }
    void TearDown() override {
        resetCoreSingletons();
        Clock::unpin();
    }

    std::string console() const { return m_console.str(); }
    void clearConsole() { m_console.str(""); }

private:
    std::ostringstream m_console;
};
