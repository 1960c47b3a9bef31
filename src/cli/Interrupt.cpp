#include "cli/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <thread>

namespace {

std::stop_source g_stop;
std::atomic<int> g_signal{0};

void WriteLine(const char* text) {
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void Watch(sigset_t set) {
    for (;;) {
        int sig = 0;
        if (::sigwait(&set, &sig) != 0) continue;
        if (g_signal.exchange(sig) != 0) _exit(128 + sig);  // a second signal: end now
        WriteLine("\ninterrupted: stopping and removing unfinished files (again to end at once)\n");
        g_stop.request_stop();
    }
}

}  // namespace

void WatchInterrupts() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(Watch, set).detach();
}

std::stop_token InterruptToken() {
    return g_stop.get_token();
}

int InterruptedStatus() {
    int sig = g_signal.load();
    return sig ? 128 + sig : 0;
}

int Interrupted(const std::string& what) {
    std::cerr << what << " was interrupted\n";
    return InterruptedStatus() ? InterruptedStatus() : 130;
}
