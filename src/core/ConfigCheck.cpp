#include "core/ConfigCheck.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>

#include "core/ArgumentList.h"
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

bool endsWithReturn(const std::string& text) { return !text.empty() && text.back() == '\r'; }

// A file saved with Windows line ends: every value (and every blank line, as a key of its own)
// ends with a carriage return, which the server keeps. Said once instead of at every line.
bool hasWindowsLineEnds() {
    for (const ConfLine& entry : Conf::getInstance()->getKeyLines()) {
        if (endsWithReturn(entry.valueText) || endsWithReturn(entry.key)) return true;
    }
    return false;
}

std::string withoutReturn(const std::string& text, bool windowsLineEnds) {
    return windowsLineEnds && endsWithReturn(text) ? text.substr(0, text.size() - 1) : text;
}

// The value scan keeps only the first word of an unquoted value, and nothing at all after two
// spaces.
int checkValueText(const ConfLine& entry, bool windowsLineEnds) {
    std::string where = "Line " + std::to_string(entry.line) + ": ";
    std::string text = withoutReturn(entry.valueText, windowsLineEnds);
    if (text.empty() || text.find('"') != std::string::npos) return 0;
    std::string key = Log::printable(entry.key);
    if (text[0] == ' ') {
        return warn(where + "two spaces after " + key + ": its value is lost (use one space).");
    }
    std::size_t space = text.find(' ');
    if (space == std::string::npos || text.find_first_not_of(' ', space) == std::string::npos) {
        return 0;
    }
    return warn(where + "only '" + Log::printable(text.substr(0, space)) + "' is read from '" +
                Log::printable(text) + "'; write a value with spaces in double quotes.");
}

int checkKeys(std::map<std::string, int>* lastLine, bool windowsLineEnds) {
    int warnings = 0;
    for (const ConfLine& entry : Conf::getInstance()->getKeyLines()) {
        std::string bareKey = withoutReturn(entry.key, windowsLineEnds);
        if (bareKey.empty()) continue;
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
        warnings += checkValueText(entry, windowsLineEnds);
    }
    return warnings;
}

int checkValues(const std::map<std::string, int>& lastLine, bool windowsLineEnds) {
    Conf* conf = Conf::getInstance();
    int warnings = 0;
    for (const char* key : kIntegerKeys) {
        const char* value = conf->getConfEntryValue(key);
        if (value == nullptr || isPlainInteger(withoutReturn(value, windowsLineEnds))) continue;
        warnings += warn(lineLabel(lastLine, key) + key + " '" + Log::printable(value) +
                         "' is read as " + std::to_string(parseIntClamped(value)) + ".");
    }
    for (const char* key : kFlagKeys) {
        const char* value = conf->getConfEntryValue(key);
        if (value == nullptr) continue;
        std::string text = withoutReturn(value, windowsLineEnds);
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

// A file the server rewrites in place (the log) needs the file, or its folder when it is
// missing; one it replaces through a temporary file and a rename needs the folder as well.
int checkWritable(const char* what, const std::string& path, bool replacedByRename,
                  const char* consequence) {
    bool exists = access(path.c_str(), F_OK) == 0;
    bool folderWritable = access(folderOf(path).c_str(), W_OK | X_OK) == 0;
    bool fileWritable = exists && access(path.c_str(), W_OK) == 0;
    bool ok = exists ? fileWritable && (folderWritable || !replacedByRename) : folderWritable;
    if (ok) return 0;
    return warn(std::string(what) + " '" + Log::printable(path) + "' cannot be written; " +
                consequence);
}

// The log file as setupLog chooses it: -l, then --log, then the LogFile key.
int checkLogFile() {
    ArgumentList* args = ArgumentList::getInstance();
    for (const char* option : {"-l", "--log"}) {
        if (!args->isArgumentSet(option)) continue;
        if (args->getArgumentValueCount(option) != 1) {
            logLine(std::string("ERROR: Invalid number of arguments for '") + option + "'.");
            return 1;
        }
        return checkWritable(option, args->getArgumentValue(option, 0), false,
                             "the server would run without a log file.");
    }
    Conf* conf = Conf::getInstance();
    if (!conf->isConfEntrySet("LogFile")) return 0;
    if (conf->getConfEntryValueCount("LogFile") != 1) {
        logLine("ERROR: Invalid number of values for 'LogFile' in the configuration file.");
        return 1;
    }
    return checkWritable("LogFile", conf->getConfEntryValue("LogFile"), false,
                         "the server would run without a log file.");
}

// The admin endpoint as the start-up opens it: a failure only leaves administration off.
int checkAdminEndpoint() {
    Conf* conf = Conf::getInstance();
    if (conf->getConfEntryValueAsInt("AdminServer") != 1) return 0;
    int port = conf->getConfEntryValueAsInt("AdminPort");
    const char* address = conf->getConfEntryValue("AdminIPAddress");
    if (port > 65535) {
        logLine("ERROR: Port " + std::to_string(port) + " is out of range.");
        logLine("Could not start admin server.");
        return 1;
    }
    if (address != nullptr && inet_addr(address) == INADDR_NONE) {
        logLine("ERROR: AdminIPAddress '" + Log::printable(address) +
                "' is not an IPv4 address; the port could not be bound.");
        logLine("Could not start admin server.");
        return 1;
    }
    if (conf->getConfEntryValue("AdminPassword") == nullptr) {
        logLine("No password set for administration, administration access disabled.");
        return 1;
    }
    if (conf->getConfEntryValueAsInt("AdminPlus") == 1 &&
        conf->getConfEntryValue("AdminPlusPassword") == nullptr) {
        logLine("No admin+ password set, admin+ disabled.");
        return 1;
    }
    return 0;
}

// What the session prints while it starts.
int checkSessionSettings() {
    Conf* conf = Conf::getInstance();
    bool listen = Log::getInstance()->getListenMode();
    int warnings = 0;
    if (conf->getConfEntryValueAsInt("Testmode") == 1) logLine("PLEASE NOTE: Testmode is on.");
    const char* url = conf->getConfEntryValue("MOTDURL");
    if (conf->getConfEntryValueCount("MOTDURL") == 1 && std::strncmp(url, "http://", 7) != 0) {
        logLine("ERROR: Rich MOTD URLs must begin include the initial http://.");
        ++warnings;
    }
    if (conf->getConfEntryValueAsInt("MOTDEnabled") == 1 && access("motd.txt", R_OK) != 0) {
        logLine("ERROR: 'motd.txt' could not be opened for reading.");
        ++warnings;
    }
    if (!listen && conf->getConfEntryValueAsInt("ServerPasswordEnabled") == 1 &&
        conf->getConfEntryValue("ServerPassword") == nullptr) {
        logLine("ERROR: Server password enabled, but no password found. Server password disabled.");
        ++warnings;
    }
    return warnings;
}

int checkFiles() {
    Conf* conf = Conf::getInstance();
    int warnings = checkLogFile();
    if (conf->getConfEntryValueCount("MetricsFile") == 1) {
        warnings += checkWritable("MetricsFile", conf->getConfEntryValue("MetricsFile"), true,
                                  "no metrics would be written.");
    }
    const char* banned = conf->getConfEntryValue("BannedFile");
    if (banned != nullptr && banned[0] != '\0') {
        warnings += checkWritable("BannedFile", banned, true,
                                  "bans would hold only until the server stops.");
    }
    warnings += checkSessionSettings();
    warnings += checkAdminEndpoint();
    return warnings;
}

// The whole file, without waiting on a FIFO and without reading a folder or a device.
bool readRegularFile(const char* name, std::string* content) {
    int descriptor = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return false;
    struct stat info {};
    bool ok = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    char buffer[4096];
    while (ok) {
        ssize_t count = read(descriptor, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            ok = count == 0;
            break;
        }
        content->append(buffer, static_cast<std::size_t>(count));
    }
    close(descriptor);
    return ok;
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
    std::string content;
    if (!readRegularFile(name, &content)) {
        return warn("The ban file '" + Log::printable(fileName) +
                    "' cannot be read; the server would start with an empty list.");
    }
    int warnings = 0;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        ++lineNumber;
        bool isWarning = false;
        std::string message =
            describeBanLine(fileName, lineNumber, content.substr(start, end - start), &isWarning);
        start = end + 1;
        if (message.empty()) continue;
        if (isWarning) {
            warnings += warn(message);
        } else {
            logLine("Note: " + message);
        }
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
    // Built by appending: GCC 12 at -O3 warns falsely about `"'" + std::string&&`.
    std::string shown = "'";
    shown.append(Log::printable(line)).append("'");
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
    bool windowsLineEnds = hasWindowsLineEnds();
    int warnings = 0;
    if (windowsLineEnds) {
        warnings += warn(
            "The configuration file has Windows line ends: the server keeps the carriage return "
            "at the end of every value (a ban file named 'banned.txt\\x0D', for example). "
            "Convert the file with: sed -i 's/\\r$//' FILE");
    }
    warnings += checkKeys(&lastLine, windowsLineEnds);
    warnings += checkValues(lastLine, windowsLineEnds);
    warnings += checkFiles();
    warnings += checkBanFile();
    return warnings;
}
