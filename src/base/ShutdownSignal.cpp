#include "base/ShutdownSignal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace ShutdownSignal {

namespace {

sigset_t signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void block() {
    // A shell starts background commands with SIGINT ignored, and an ignored signal is
    // dropped instead of waiting for sigwait: take the default back first.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    sigset_t set = signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A client that goes away mid-answer must not end the station.
    ::signal(SIGPIPE, SIG_IGN);
}

int wait() {
    sigset_t set = signals();
    int number = 0;
    while (sigwait(&set, &number) != 0) {
    }
    return number;
}

void raise() {
    ::kill(::getpid(), SIGTERM);
}

}  // namespace ShutdownSignal
