#include "core/Background.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/Log.h"

volatile std::sig_atomic_t nKeepServerGoing = 1;
volatile std::sig_atomic_t nReopenLog = 0;

void setUpProcessSignals() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGUSR1, SIG_IGN);
}

void signalHandler(int signal) {
    if (signal == SIGTERM) nKeepServerGoing = 0;
    if (signal == SIGUSR1) nReopenLog = 1;
    std::signal(signal, signalHandler);
}

void fillHandledSignals(sigset_t* set) {
    sigemptyset(set);
    sigaddset(set, SIGTERM);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGHUP);
    sigaddset(set, SIGUSR1);
}

void becomeBackgroundProcess() {
    // Anything still buffered would otherwise be written twice, once by each process.
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        Log::getInstance()->writeToLog(
            "ERROR: Unable to fork into the background.  Cannot run as a background process.", true,
            true);
        std::exit(3);
    }
    if (pid > 0) _exit(0);
    if (setsid() < 0) _exit(4);

    // Standard input and output are pointed at /dev/null rather than left closed: a closed
    // descriptor 1 would be handed to the next socket, and console text would be written to it.
    int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        if (devNull > STDOUT_FILENO) close(devNull);
    } else {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
    }
    std::signal(SIGTERM, signalHandler);
    std::signal(SIGINT, signalHandler);
    std::signal(SIGHUP, signalHandler);
    std::signal(SIGUSR1, signalHandler);
}
