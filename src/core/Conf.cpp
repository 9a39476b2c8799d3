#include "core/Conf.h"

#include <fstream>

#include "core/ArgumentList.h"
#include "core/Log.h"
#include "core/Number.h"

Conf* Conf::s_instance = nullptr;

namespace {

void logLine(const std::string& text) { Log::getInstance()->writeToLog(text, true, true); }

}  // namespace

Conf* Conf::getInstance() {
    if (s_instance == nullptr) s_instance = new Conf();
    return s_instance;
}

Conf::~Conf() {
    if (s_instance == this) s_instance = nullptr;
}

std::string Conf::trimLeft(const std::string& text, const std::string& set) {
    std::size_t first = text.find_first_not_of(set);
    if (first == std::string::npos) return std::string();
    return text.substr(first);
}

std::string Conf::trimRight(const std::string& text, const std::string& set) {
    std::size_t last = text.find_last_not_of(set);
    if (last == std::string::npos) return std::string();
    return text.substr(0, last + 1);
}

bool Conf::readConf(const char* path) {
    std::ifstream file(path);
    if (!file.is_open()) return false;
    m_lineNumber = 0;
    m_keyLines.clear();
    std::string line;
    while (std::getline(file, line)) {
        ++m_lineNumber;
        // Only the space is trimmed: tabs and carriage returns are ordinary characters.
        line = trimRight(trimLeft(line, " "), " ");
        if (line.empty() || line[0] == '#') continue;
        std::size_t space = line.find(' ');
        m_keyLines.push_back({line.substr(0, space), m_lineNumber,
                              space == std::string::npos ? std::string() : line.substr(space + 1)});
        if (space == std::string::npos) {
            addConfEntry(line, "");
        } else {
            addConfEntry(line.substr(0, space), line.substr(space + 1));
        }
    }
    return true;
}

void Conf::addConfEntry(const std::string& key, const std::string& valueText) {
    // Stored files rely on the exact behaviour of this scan, including its odd corners: it ends
    // as soon as a search for a quote or a space finds nothing, so an unquoted value text keeps
    // only its first word.
    constexpr std::size_t kNone = std::string::npos;
    ConfEntry entry;
    std::size_t p = 0;
    std::size_t q = 0;
    std::size_t s = 0;
    while (p != kNone && q != kNone && s != kNone) {
        q = valueText.find('"', p);
        s = valueText.find(' ', p);
        if (q != kNone && (s == kNone || q < s)) {
            p = q + 1;
            q = valueText.find('"', p);
            if (q == kNone) {
                logLine("ERROR: Unmatched quotation in configuration file. (Line #" +
                        std::to_string(m_lineNumber) + ")");
            } else {
                if (q > p) entry.values.push_back(valueText.substr(p, q - p));
                p = q + 1;
            }
        } else if (s != kNone) {
            if (s > p) entry.values.push_back(valueText.substr(p, s - p));
            p = s + 1;
        } else if (p < valueText.size()) {
            entry.values.push_back(valueText.substr(p));
        }
    }
    m_entries[key] = entry;
}

const char* Conf::getConfEntryValue(const std::string& key, int index) const {
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return nullptr;
    const std::vector<std::string>& values = it->second.values;
    if (static_cast<unsigned>(index) >= values.size()) return nullptr;
    return values[static_cast<unsigned>(index)].c_str();
}

int Conf::getConfEntryValueAsInt(const std::string& key, int index) const {
    const char* value = getConfEntryValue(key, index);
    if (value == nullptr) return -1;
    return parseIntClamped(value);
}

int Conf::getConfEntryValueCount(const std::string& key) const {
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return -1;
    return static_cast<int>(it->second.values.size());
}

bool Conf::isConfEntrySet(const std::string& key) const {
    return m_entries.find(key) != m_entries.end();
}

bool Conf::setConfEntryValue(const std::string& key, const char* value, int index) {
    if (value == nullptr) return false;
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return false;
    std::vector<std::string>& values = it->second.values;
    if (static_cast<unsigned>(index) >= values.size()) return false;
    values[static_cast<unsigned>(index)] = value;
    return true;
}

bool Conf::loadConf() {
    ArgumentList* args = ArgumentList::getInstance();
    std::string path = "zevserver.conf";
    const char* option = nullptr;
    if (args->isArgumentSet("-c")) {
        option = "-c";
    } else if (args->isArgumentSet("--conf")) {
        option = "--conf";
    }
    if (option != nullptr) {
        if (args->getArgumentValueCount(option) != 1) {
            logLine(std::string("ERROR: Invalid number of arguments for '") + option + "'.");
            return false;
        }
        path = args->getArgumentValue(option, 0);
    }
    return readConf(path.c_str());
}

bool Conf::checkGameClock() {
    bool ok = true;
    int hour = getConfEntryValueAsInt("GameHour");
    if (hour < 0 || hour > 23) {
        logLine(
            "ERROR: GameHour needs to be specified in the configuration file and be between 0 "
            "and 23");
        ok = false;
    }
    int mins = getConfEntryValueAsInt("GameMins");
    if (mins < 0 || mins > 59) {
        logLine(
            "ERROR: GameMins needs to be specified in the configuration file and be between 0 "
            "and 59");
        ok = false;
    }
    return ok;
}

bool Conf::checkForRequiredConfEntries() {
    const char* name = getConfEntryValue("ServerName");
    std::size_t nameLength = name == nullptr ? 0 : std::string(name).size();
    if (nameLength < 1 || nameLength > 49) {
        logLine(
            "ERROR: A ServerName MUST be specified in the configuration file AND must be between "
            "1 and 49 characters in length.");
        return false;
    }
    if (getConfEntryValueAsInt("ServerPort") <= 0) {
        logLine("ERROR: A ServerPort needs to be specified in the configuration file AND be > 0.");
        return false;
    }
    int map = getConfEntryValueAsInt("GameMap");
    if (map < 1 || map > 5) {
        logLine("ERROR: A valid GameMap needs to be specified in the configuration file.");
        return false;
    }
    int limit = map <= 2 ? 26 : 32;
    int maxPlayers = getConfEntryValueAsInt("MaxPlayers");
    if (maxPlayers < 1 || maxPlayers > limit) {
        logLine(
            "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 "
            "and " +
            std::to_string(limit) + ".");
        return false;
    }
    if (!checkGameClock()) return false;
    const char* banned = getConfEntryValue("BannedFile");
    if (banned == nullptr || banned[0] == '\0') {
        logLine("ERROR: A BannedFile needs to be specified in the configuration file");
        return false;
    }
    return true;
}
