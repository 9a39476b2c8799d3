#include "core/Log.h"

#include <cstdio>
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

Log::Log() : m_console(&std::cout) {}

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
    m_logFile.open(path, std::ios::out | std::ios::trunc);
    if (m_logFile.is_open()) m_logFile << "- ZEVServer log opened -\n" << std::flush;
    return m_logFile.is_open();
}

void Log::closeLog() {
    if (!m_logFile.is_open()) return;
    m_logFile << "- ZEVServer log closed -\n";
    m_logFile.close();
}

void Log::writeToLog(const char* item, bool endLine, bool toConsole) {
    // The prefix belongs to the moment the line was started, so only the first piece takes it.
    std::string prefix;
    if (!m_lineOpen) prefix = timePrefix();

    if (m_logFile.is_open()) {
        m_logFile << prefix;
        if (item != nullptr) m_logFile << item;
        if (endLine) m_logFile << '\n' << std::flush;
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
