#include "zevadmin/Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "core/Number.h"

namespace zevadmin {

const char* const kUsage =
    "usage: zevadmin [options] [command [arguments]]\n"
    "Logs in on the admin port of a zevserver. With a command it runs that command once, prints\n"
    "the server's answer and exits; without one it reads commands from standard input, one a\n"
    "line, and prints what the server sends as it arrives.\n"
    "\n"
    "options:\n"
    "  -H, --host HOST        server host name or IPv4 address (127.0.0.1)\n"
    "  -p, --port PORT        admin port (4003)\n"
    "  -l, --level 1|2        1: admin, password AdminPassword; 2: admin+, AdminPlusPassword (1)\n"
    "  -n, --nick NICK        admin nick, 1 to 13 printable characters without \"|\" (zevadmin)\n"
    "      --password PASS    the password; without it $ZEVADMIN_PASSWORD, and without that a\n"
    "                         prompt on the terminal that does not echo\n"
    "  -t, --timeout SECONDS  how long to wait for the login and for each answer (5)\n"
    "  -h, --help             this text\n"
    "      --version          the version\n";

const char* const kExitHelp =
    "exit status:\n"
    "  0  success\n"
    "  1  the server refused the login or the command, or the command failed there\n"
    "  2  bad command line or arguments, no password, or a local file that cannot be read\n"
    "  3  no answer in time, nothing listening on the port, or contact with the server lost\n"
    "  128+N  stopped by signal N after logging out: 130 for Ctrl-C, 143 for SIGTERM\n";

namespace {

bool toTimeout(const char* text, int* outMs) {
    char* end = nullptr;
    errno = 0;
    double seconds = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(seconds >= 0.05 && seconds <= 3600.0)) {
        return false;
    }
    *outMs = static_cast<int>(std::lround(seconds * 1000.0));
    return true;
}

bool isNickCharacter(char c) { return c >= 0x20 && c <= 0x7E && c != '|'; }

bool validNick(const std::string& nick) {
    if (nick.empty() || nick.size() > 13) return false;
    for (char c : nick) {
        if (!isNickCharacter(c)) return false;
    }
    return true;
}

// Applies one option that takes a value. False with the reason in `error`.
bool setValue(const std::string& name, const char* value, Options* options, std::string* error) {
    bool good = true;
    if (name == "-H" || name == "--host") {
        options->host = value;
        good = !options->host.empty();
    } else if (name == "-p" || name == "--port") {
        good = parseIntInRange(value, 1, 65535, &options->port);
    } else if (name == "-l" || name == "--level") {
        good = parseIntInRange(value, 1, 2, &options->level);
    } else if (name == "-n" || name == "--nick") {
        options->nick = value;
        good = validNick(options->nick);
    } else if (name == "--password") {
        options->password = value;
        options->havePassword = true;
    } else if (name == "-t" || name == "--timeout") {
        good = toTimeout(value, &options->timeoutMs);
    }
    if (!good) *error = "bad value for " + name + ": '" + value + "'";
    return good;
}

bool takesValue(const std::string& name) {
    static const char* const kNames[] = {"-H", "--host", "-p", "--port",    "-l",        "--level",
                                         "-n", "--nick", "-t", "--timeout", "--password"};
    for (const char* known : kNames) {
        if (name == known) return true;
    }
    return false;
}

}  // namespace

bool parseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--") {
            ++i;
            break;
        }
        if (name.size() < 2 || name[0] != '-') break;
        if (name == "-h" || name == "--help") {
            options->help = true;
            continue;
        }
        if (name == "--version") {
            options->version = true;
            continue;
        }
        const char* value = nullptr;
        std::size_t equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = argv[i] + equals + 1;
            name.resize(equals);
        }
        if (!takesValue(name)) {
            *error = "unknown option " + name + " (see --help)";
            return false;
        }
        if (value == nullptr && i + 1 < argc) value = argv[++i];
        if (value == nullptr) {
            *error = "option " + name + " needs a value";
            return false;
        }
        if (!setValue(name, value, options, error)) return false;
    }
    for (; i < argc; ++i) options->command.emplace_back(argv[i]);
    return true;
}

}  // namespace zevadmin
