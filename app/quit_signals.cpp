#include "app/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace orbitreel {

namespace {

// The self-pipe: a signal handler may only do async-signal-safe work, so it
// writes one byte and the event loop does the rest.
int pipeEnds[2] = {-1, -1};
constexpr std::array<int, 3> QuitSignalNumbers{SIGTERM, SIGINT, SIGHUP};

extern "C" void onQuitSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    (void)!write(pipeEnds[1], &byte, 1);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> onQuit, QObject* parent) : QObject(parent), onQuit_(std::move(onQuit)) {
    if (pipeEnds[0] < 0 && pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : QuitSignalNumbers) {
        if (sigaction(number, &action, nullptr) != 0) return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitSignals::drain);
}

QuitSignals::~QuitSignals() {
    notifier_.reset();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : QuitSignalNumbers) (void)sigaction(number, &action, nullptr);
    // No handler writes to the pipe any more.
    for (int& end : pipeEnds) {
        if (end >= 0) close(end);
        end = -1;
    }
}

void QuitSignals::drain() {
    char bytes[16];
    bool received = false;
    while (read(pipeEnds[0], bytes, sizeof bytes) > 0) received = true;
    if (received && onQuit_) onQuit_();
}

}  // namespace orbitreel

#include "moc_quit_signals.cpp"
