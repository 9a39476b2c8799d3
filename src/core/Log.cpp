#include "core/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "core/ArgumentList.h"
#include "core/Clock.h"
#include "core/Conf.h"

Log* Log::s_instance = nullptr;

Log* Log::getInstance() {
    if (s_instance == nullptr) s_instance = new Log();
    return s_instance;
}

Log::Log() : m_console(&std::cout), m_errors(&std::cerr) {}

Log::~Log() {
    closeLog();
    if (s_instance == this) s_instance = nullptr;
}

std::string Log::timePrefix() {
    std::tm now = Clock::localTime();
    char prefix[32];
    std::snprintf(prefix, sizeof(prefix), "(%2d:%02d:%02d) ", now.tm_hour, now.tm_min, now.tm_sec);
    return prefix;
}

std::string Log::printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out.push_back(c);
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
        out += escaped;
    }
    return out;
}

bool Log::openLogForWriting(const char* path) {
    closeLog();
    if (path == nullptr) return false;
    m_fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    if (m_fd < 0) return false;
    m_path = path;
    m_lostLines = 0;
    m_cutLine = false;
    writeToFile("- ZEVServer log opened -\n");
    return true;
}

void Log::closeLog() {
    if (m_fd < 0) return;
    writeToFile(m_fileLine + "- ZEVServer log closed -\n");
    m_fileLine.clear();
    close(m_fd);
    m_fd = -1;
    m_path.clear();
}

bool Log::reopenLog() {
    if (m_fd < 0) return false;
    int descriptor = open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        std::string reason = std::strerror(errno);
        writeToLog("ERROR: Unable to reopen the log file '" + m_path + "': " + reason +
                       ". Logging goes on in the old file.",
                   true, true);
        return false;
    }
    close(m_fd);
    m_fd = descriptor;
    m_cutLine = false;
    writeToFile("- ZEVServer log reopened -\n");
    return true;
}

bool Log::writeWhole(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t count = write(m_fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            if (done > 0) m_cutLine = true;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

void Log::writeToFile(const std::string& text) {
    std::string out;
    if (m_lostLines > 0) {
        // Someone may have emptied the file to make room; a fresh file needs no line end first.
        if (m_cutLine && lseek(m_fd, 0, SEEK_END) > 0) out += '\n';
        out += timePrefix() + "SERVER-WARNING: " + std::to_string(m_lostLines) +
               " log lines could not be written.\n";
    }
    out += text;
    if (writeWhole(out)) {
        m_lostLines = 0;
        m_cutLine = false;
        return;
    }
    // The file cannot say it itself; standard error is the one place left that may be read.
    if (m_lostLines == 0 && m_errors != nullptr) {
        std::string reason = std::strerror(errno);
        *m_errors << "ERROR: Unable to write to the log file '" << m_path << "': " << reason
                  << ". Log lines are lost until it can be written again." << std::endl;
    }
    ++m_lostLines;
}

void Log::writeToLog(const char* item, bool endLine, bool toConsole) {
    // The prefix belongs to the moment the line was started, so only the first piece takes it.
    std::string prefix;
    if (!m_lineOpen) prefix = timePrefix();

    if (m_fd >= 0) {
        m_fileLine += prefix;
        if (item != nullptr) m_fileLine += item;
        if (endLine) {
            m_fileLine += '\n';
            writeToFile(m_fileLine);
            m_fileLine.clear();
        }
    }
    if (!m_quietMode && toConsole && m_console != nullptr) {
        if (m_stdTime) *m_console << prefix;
        if (item != nullptr) *m_console << item;
        if (endLine) *m_console << '\n' << std::flush;
    }
    m_lineOpen = !endLine;
}

void Log::writeToLog(const std::string& item, bool endLine, bool toConsole) {
    writeToLog(item.c_str(), endLine, toConsole);
}

void Log::writeToLog(int item, bool endLine, bool toConsole) {
    writeToLog(std::to_string(item), endLine, toConsole);
}

void Log::writeToLog(long item, bool endLine, bool toConsole) {
    writeToLog(std::to_string(item), endLine, toConsole);
}

void Log::writeToLog(float item, bool endLine, bool toConsole) {
    std::ostringstream text;
    text << item;
    writeToLog(text.str(), endLine, toConsole);
}

bool Log::openNamedLog(const char* option, const char* errorLine) {
    ArgumentList* args = ArgumentList::getInstance();
    if (args->getArgumentValueCount(option) != 1) {
        writeToLog(errorLine, true, true);
        return false;
    }
    return openLogForWriting(args->getArgumentValue(option, 0));
}

bool Log::setupLog() {
    ArgumentList* args = ArgumentList::getInstance();
    if (args->isArgumentSet("-l")) {
        return openNamedLog("-l", "ERROR: Invalid number of arguments for '-l'.");
    }
    if (args->isArgumentSet("--log")) {
        return openNamedLog("--log", "ERROR: Invalid number of arguments for '--log'.");
    }
    Conf* conf = Conf::getInstance();
    if (conf->isConfEntrySet("LogFile")) {
        if (conf->getConfEntryValueCount("LogFile") != 1) {
            writeToLog("ERROR: Invalid number of values for 'LogFile' in the configuration file.",
                       true, true);
            return false;
        }
        return openLogForWriting(conf->getConfEntryValue("LogFile", 0));
    }
    return true;
}
