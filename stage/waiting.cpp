#include "stage/waiting.h"

#include <signal.h>

#include <thread>

namespace orbitreel::stage {

namespace {

volatile sig_atomic_t stopSignal = 0;

void noteStop(int signal) { stopSignal = signal; }

}  // namespace

void stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool stopRequested() { return stopSignal != 0; }

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (stopRequested()) throw Interrupted();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(step);
    }
}

}  // namespace orbitreel::stage
