// Background (daemon) mode, the process's signal settings and the flags the handler sets.
#pragma once

#include <csignal>

// The main loop runs while this is non-zero; only signalHandler clears it (on SIGTERM).
extern volatile std::sig_atomic_t nKeepServerGoing;
// Set by signalHandler on SIGUSR1; the main loop reopens the log file and clears it.
extern volatile std::sig_atomic_t nReopenLog;

// Called once at start-up, before any file is written. A write past a file size limit fails
// instead of ending the process (SIGXFSZ is ignored), and SIGUSR1, which reopens the log in
// background mode, is ignored in the foreground rather than ending the server.
void setUpProcessSignals();

// Forks into the background. The parent exits 0 at once; a failed fork exits 3 with an ERROR
// line; a child that cannot leave its terminal exits 4. In the child, standard input and output
// lead nowhere afterwards and the signal handlers are installed.
void becomeBackgroundProcess();

// SIGTERM ends the main loop at its next turn; SIGUSR1 asks it to reopen the log file; SIGINT
// and SIGHUP are caught and ignored.
void signalHandler(int signal);

// The signals signalHandler is installed for.
void fillHandledSignals(sigset_t* set);
