#include "zevadmin/Password.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace zevadmin {

namespace {

volatile sig_atomic_t g_signal = 0;

void noteSignal(int signal) { g_signal = signal; }

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads up to the line end; false on end of input, an error, or a signal.
bool readLine(int fd, std::string* line) {
    line->clear();
    while (true) {
        char c = 0;
        ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR && g_signal == 0) continue;
        if (n <= 0) return false;
        if (c == '\n' || c == '\r') return true;
        line->push_back(c);
    }
}

}  // namespace

bool askPassword(const std::string& prompt, std::string* password, std::string* error) {
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    termios saved{};
    if (tty < 0 || tcgetattr(tty, &saved) != 0) {
        if (tty >= 0) close(tty);
        *error = "no password: give --password, set ZEVADMIN_PASSWORD, or run on a terminal";
        return false;
    }
    // Handlers without SA_RESTART, so that a signal ends the read and the echo comes back on
    // before the signal's default action runs.
    struct sigaction note {};
    note.sa_handler = noteSignal;
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    g_signal = 0;
    sigaction(SIGINT, &note, &oldInt);
    sigaction(SIGTERM, &note, &oldTerm);

    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    quiet.c_lflag |= ICANON;
    // Echo goes off before the prompt shows, so that nothing typed after it is ever echoed.
    bool ok = tcsetattr(tty, TCSAFLUSH, &quiet) == 0 && writeAll(tty, prompt);
    ok = ok && readLine(tty, password);
    tcsetattr(tty, TCSAFLUSH, &saved);
    writeAll(tty, "\n");
    close(tty);

    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    if (g_signal != 0) raise(g_signal);
    if (!ok) *error = "no password was typed";
    return ok;
}

}  // namespace zevadmin
