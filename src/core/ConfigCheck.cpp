#include "core/ConfigCheck.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <fstream>
#include <map>

#include "core/Conf.h"
#include "core/Log.h"
#include "core/Number.h"

namespace {

void logLine(const std::string& text) { Log::getInstance()->writeToLog(text, true, true); }

const std::array<const char*, 9> kIntegerKeys = {
    "ServerPort", "GameMap",         "MaxPlayers",
    "GameHour",   "GameMins",        "ChatFloodMaxCount",
    "AdminPort",  "ServerSendLimit", "ServerSendLimitMaxAllowed"};

const std::array<const char*, 14> kFlagKeys = {"BanOnChatFlood",
                                               "Testmode",
                                               "StatLogging",
                                               "DebugOutput",
                                               "DoNotOutputChatToLog",
                                               "MOTDEnabled",
                                               "RandomWeather",
                                               "ServerPasswordEnabled",
                                               "AdminServer",
                                               "AdminPlus",
                                               "AdminAllowShutdown",
                                               "ASE",
                                               "ServerSendLimitEnabled",
                                               "ServerSendLimitLogDropped"};

const std::array<const char*, 14> kTextKeys = {
    "ServerName",        "GameIPAddress",  "BannedFile",       "LogFile",
    "MOTDURL",           "ServerPassword", "AdminIPAddress",   "AdminPassword",
    "AdminPlusPassword", "GeneralKey",     "ASEMasterPrimary", "ASEMasterSecondary",
    "ASEMasterFallback", "MetricsFile"};

bool isKnownKey(const std::string& key) {
    for (const char* known : kIntegerKeys) {
        if (key == known) return true;
    }
    for (const char* known : kFlagKeys) {
        if (key == known) return true;
    }
    for (const char* known : kTextKeys) {
        if (key == known) return true;
    }
    return false;
}

bool isPlainInteger(const std::string& text) {
    std::size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (start == text.size()) return false;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) return false;
    }
    return true;
}

std::string lineLabel(const std::map<std::string, int>& lastLine, const std::string& key) {
    auto it = lastLine.find(key);
    return it == lastLine.end() ? std::string() : "Line " + std::to_string(it->second) + ": ";
}

int warn(const std::string& text) {
    logLine("WARNING: " + text);
    return 1;
}

int checkKeys(std::map<std::string, int>* lastLine) {
    int warnings = 0;
    for (const ConfLine& entry : Conf::getInstance()->getKeyLines()) {
        std::string key = Log::printable(entry.key);
        if (!isKnownKey(entry.key)) {
            warnings += warn("Line " + std::to_string(entry.line) + ": unknown key '" + key +
                             "' is ignored.");
        } else if (lastLine->count(entry.key) != 0) {
            warnings += warn("Line " + std::to_string(entry.line) + ": " + key +
                             " is given again; it replaces line " +
                             std::to_string((*lastLine)[entry.key]) + ".");
        }
        (*lastLine)[entry.key] = entry.line;
    }
    return warnings;
}

int checkValues(const std::map<std::string, int>& lastLine) {
    Conf* conf = Conf::getInstance();
    int warnings = 0;
    for (const char* key : kIntegerKeys) {
        const char* value = conf->getConfEntryValue(key);
        if (value == nullptr || isPlainInteger(value)) continue;
        warnings += warn(lineLabel(lastLine, key) + key + " '" + Log::printable(value) +
                         "' is read as " + std::to_string(parseIntClamped(value)) + ".");
    }
    for (const char* key : kFlagKeys) {
        const char* value = conf->getConfEntryValue(key);
        if (value == nullptr) continue;
        std::string text = value;
        if (text == "0" || text == "1") continue;
        bool on = parseIntClamped(value) == 1;
        warnings += warn(lineLabel(lastLine, key) + key + " '" + Log::printable(text) +
                         "' is read as " + (on ? "on" : "off") + " (use 1 for on, 0 for off).");
    }
    int maximum = conf->getConfEntryValueAsInt("ServerSendLimitMaxAllowed");
    if (maximum > 0) {
        warnings += warn(lineLabel(lastLine, "ServerSendLimitMaxAllowed") +
                         "ServerSendLimitMaxAllowed is " + std::to_string(maximum) +
                         ": anyone who can make the server reply that much in one second can "
                         "close its game port.");
    }
    return warnings;
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int checkWritable(const char* key, const char* consequence) {
    Conf* conf = Conf::getInstance();
    if (conf->getConfEntryValueCount(key) != 1) return 0;
    std::string path = conf->getConfEntryValue(key);
    if (access(path.c_str(), F_OK) == 0 ? access(path.c_str(), W_OK) == 0
                                        : access(folderOf(path).c_str(), W_OK | X_OK) == 0) {
        return 0;
    }
    return warn(std::string(key) + " '" + Log::printable(path) + "' cannot be written; " +
                consequence);
}

int checkFiles() {
    Conf* conf = Conf::getInstance();
    int warnings = 0;
    if (conf->isConfEntrySet("LogFile") && conf->getConfEntryValueCount("LogFile") != 1) {
        logLine("ERROR: Invalid number of values for 'LogFile' in the configuration file.");
        ++warnings;
    }
    warnings += checkWritable("LogFile", "the server would run without a log file.");
    warnings += checkWritable("MetricsFile", "no metrics would be written.");
    if (conf->getConfEntryValueAsInt("MOTDEnabled") == 1 && access("motd.txt", R_OK) != 0) {
        logLine("ERROR: 'motd.txt' could not be opened for reading.");
        ++warnings;
    }
    if (conf->getConfEntryValueAsInt("ServerPasswordEnabled") == 1 &&
        conf->getConfEntryValue("ServerPassword") == nullptr) {
        logLine("ERROR: Server password enabled, but no password found. Server password disabled.");
        ++warnings;
    }
    if (conf->getConfEntryValueAsInt("AdminServer") == 1) {
        if (conf->getConfEntryValue("AdminPassword") == nullptr) {
            logLine("No password set for administration, administration access disabled.");
            ++warnings;
        } else if (conf->getConfEntryValueAsInt("AdminPlus") == 1 &&
                   conf->getConfEntryValue("AdminPlusPassword") == nullptr) {
            logLine("No admin+ password set, admin+ disabled.");
            ++warnings;
        }
    }
    return warnings;
}

int checkBanFile() {
    const char* name = Conf::getInstance()->getConfEntryValue("BannedFile");
    if (name == nullptr || name[0] == '\0') return 0;
    std::string fileName = name;
    if (access(name, F_OK) != 0) {
        logLine("Note: the ban file '" + Log::printable(fileName) +
                "' does not exist yet; the server will create it empty.");
        return 0;
    }
    std::ifstream file(fileName);
    if (!file.is_open()) {
        return warn("The ban file '" + Log::printable(fileName) +
                    "' cannot be read; the server would start with an empty list.");
    }
    int warnings = 0;
    int lineNumber = 0;
    std::string line;
    while (std::getline(file, line)) {
        ++lineNumber;
        bool isWarning = false;
        std::string message = describeBanLine(fileName, lineNumber, line, &isWarning);
        if (message.empty()) continue;
        if (isWarning) {
            warnings += warn(message);
        } else {
            logLine("Note: " + message);
        }
    }
    if (file.bad()) {
        warnings +=
            warn("The ban file '" + Log::printable(fileName) + "' could not be read whole.");
    }
    return warnings;
}

// Dotted decimal with four octets of 0 to 255 and no leading zeros: the only form that means the
// same to a reader as to the address conversion, which takes "010" as octal and "10.1" as
// 10.0.0.1.
bool isPlainAddress(const std::string& text) {
    int octets = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t start = i;
        int value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
            value = value * 10 + (text[i] - '0');
            if (i - start >= 3 || value > 255) return false;
            ++i;
        }
        std::size_t length = i - start;
        if (length == 0 || (length > 1 && text[start] == '0')) return false;
        ++octets;
        if (i == text.size()) return octets == 4;
        if (text[i] != '.' || octets == 4) return false;
        ++i;
    }
}

std::string patternOf(in_addr_t address) {
    const auto* octets = reinterpret_cast<const unsigned char*>(&address);
    std::string pattern;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) pattern += '.';
        pattern += octets[i] == 0 ? std::string("*") : std::to_string(octets[i]);
    }
    return pattern;
}

std::string dottedOf(in_addr_t address) {
    const auto* octets = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." +
           std::to_string(octets[2]) + "." + std::to_string(octets[3]);
}

bool hasZeroOctet(in_addr_t address) {
    const auto* octets = reinterpret_cast<const unsigned char*>(&address);
    return octets[0] == 0 || octets[1] == 0 || octets[2] == 0 || octets[3] == 0;
}

}  // namespace

std::string describeBanLine(const std::string& fileName, int lineNumber, const std::string& line,
                            bool* isWarning) {
    std::string where = Log::printable(fileName) + " line " + std::to_string(lineNumber) + ": ";
    std::string shown = "'" + Log::printable(line) + "'";
    *isWarning = true;
    if (line.empty()) return where + "an empty line bans nothing.";
    in_addr_t address = inet_addr(line.c_str());
    if (isPlainAddress(line)) {
        *isWarning = false;
        if (!hasZeroOctet(address)) return std::string();
        return where + line + " is a pattern: a 0 octet matches any value, so it bans " +
               patternOf(address) + ".";
    }
    if (address == INADDR_NONE) return where + shown + " is not an IPv4 address; it bans nothing.";
    std::string message = where + shown + " is read as " + dottedOf(address);
    if (hasZeroOctet(address)) message += ", which bans " + patternOf(address);
    return message + ".";
}

int reportConfigurationWarnings() {
    std::map<std::string, int> lastLine;
    int warnings = checkKeys(&lastLine);
    warnings += checkValues(lastLine);
    warnings += checkFiles();
    warnings += checkBanFile();
    return warnings;
}
