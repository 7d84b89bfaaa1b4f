#include "cli/StopSignals.h"

#include "base/AtomicFile.h"

#include <csignal>
#include <unistd.h>

namespace pelo::cli {

namespace {

std::atomic<bool> gStop{false};
volatile std::sig_atomic_t gSignal = 0;

extern "C" void OnStopSignal(int signal) {
    if (gSignal != 0) {
        RemovePendingTemporaries();
        ::_exit(128 + signal);
    }
    gSignal = signal;
    gStop.store(true);
}

} // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

const std::atomic<bool>& StopRequested() {
    return gStop;
}

int StopSignal() {
    return gSignal;
}

} // namespace pelo::cli
