#include "core/ArgumentList.h"

#include <cctype>
#include <cstring>

#include "core/Log.h"

ArgumentList* ArgumentList::s_instance = nullptr;

ArgumentList* ArgumentList::getInstance() {
    if (s_instance == nullptr) s_instance = new ArgumentList();
    return s_instance;
}

ArgumentList::~ArgumentList() {
    if (s_instance == this) s_instance = nullptr;
}

bool ArgumentList::isSwitch(const char* word) {
    if (word == nullptr || std::strlen(word) < 2) return false;
    return word[0] == '-' && std::isdigit(static_cast<unsigned char>(word[1])) == 0;
}

int ArgumentList::parseArguments(int argc, const char* const* argv) {
    int i = 1;
    while (i < argc) {
        if (!isSwitch(argv[i])) {
            ++i;
            continue;
        }
        std::string name = argv[i];
        Argument argument;
        std::size_t equals = name.find('=');
        if (equals != std::string::npos) {
            argument.values.push_back(name.substr(equals + 1));
            name.erase(equals);
        }
        ++i;
        while (i < argc && !isSwitch(argv[i])) argument.values.push_back(argv[i++]);
        m_options[name] = argument;
    }
    return getArgumentCount();
}

bool ArgumentList::isArgumentSet(const std::string& name) const {
    return m_options.find(name) != m_options.end();
}

const char* ArgumentList::getArgumentValue(const std::string& name, int index) const {
    auto it = m_options.find(name);
    if (it == m_options.end()) return nullptr;
    const std::vector<std::string>& values = it->second.values;
    if (static_cast<unsigned>(index) >= values.size()) return nullptr;
    return values[static_cast<unsigned>(index)].c_str();
}

int ArgumentList::getArgumentValueCount(const std::string& name) const {
    auto it = m_options.find(name);
    if (it == m_options.end()) return -1;
    return static_cast<int>(it->second.values.size());
}

void ArgumentList::showVersion() {
    Log* log = Log::getInstance();
    if (log->getListenMode()) {
        log->writeToLog("Listen server started.", true, true);
        return;
    }
    log->writeToLog("ZEV Server (Patch 1) for ZEV 0.5", true, true);
    log->writeToLog("", true, true);
}

void ArgumentList::showHelp() {
    static const char* const kLines[] = {
        "Usage: ZEVServer [OPTION]...",
        "",
        "  -b, --background      go to the background after startup (daemon)",
        "  -c, --conf=PATH       specify the path to the configuration file",
        "  -l, --log=PATH        specify the path to the file you wish to log to",
        "  -h, --help            display this help and exit",
        "  -t, --time            enable time output",
        "  -q, --quiet           enter quiet mode (absolutely no output)",
        "      --check-config    check the configuration and the ban file, then exit",
        "",
        "By default, the configuration file (zevserver.conf) will be read from the",
        "the current directory.",
        "",
        "Report bugs to https://zevserver.invalid/bugs",
    };
    Log* log = Log::getInstance();
    for (const char* line : kLines) log->writeToLog(line, true, true);
}
