#pragma once
// Ctrl-C, kill and a closed terminal stop a running job the way Cancel does in the wizard:
// SIGINT, SIGTERM and SIGHUP request a stop through the job's stop token, the job cleans up
// its temporary files, and the program exits with 128 + the signal's number. A second
// signal ends the program at once.
#include <stop_token>
#include <string>

// Starts watching (call first in main, before any thread starts: the signals are blocked
// in every thread and taken by a watcher thread of their own).
void WatchInterrupts();
std::stop_token InterruptToken();
// 0, or the exit status for the signal that stopped the job (130 for Ctrl-C, 143 for kill).
int InterruptedStatus();
// Says that the work on `what` was interrupted and returns the status to exit with.
int Interrupted(const std::string& what);
