// Background (daemon) mode and the stop flag its signal handler clears.
#pragma once

#include <csignal>

// The main loop runs while this is non-zero; only signalHandler clears it (on SIGTERM).
extern volatile std::sig_atomic_t nKeepServerGoing;

// Forks into the background. The parent exits 0 at once; a failed fork exits 3 with an ERROR
// line; a child that cannot leave its terminal exits 4. In the child, standard input and output
// lead nowhere afterwards and the signal handlers are installed.
void becomeBackgroundProcess();

// SIGTERM ends the main loop at its next turn; SIGINT and SIGHUP are caught and ignored.
void signalHandler(int signal);

// The signals signalHandler is installed for.
void fillHandledSignals(sigset_t* set);
