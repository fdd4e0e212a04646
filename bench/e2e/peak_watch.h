#pragma once
// Peak resident memory of chosen programs, watched from outside: a thread
// reads VmHWM in /proc/<pid>/status of every process of this PID namespace
// whose executable has one of the names, every few milliseconds, until
// stopped. VmHWM only grows, so the last reading of a process is its peak but
// for what it gained after it; a run shorter than the period may go unseen.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

namespace orbitreel::bench {

class PeakWatch {
public:
    static constexpr std::chrono::milliseconds Period{5};

    struct Peak {
        long kib = 0;  // the highest of its runs
        int runs = 0;  // the runs seen
    };

    explicit PeakWatch(std::set<std::string> names);
    ~PeakWatch();
    PeakWatch(const PeakWatch&) = delete;
    PeakWatch& operator=(const PeakWatch&) = delete;

    // Stops watching; the peaks by program name.
    std::map<std::string, Peak> stop();

private:
    struct Seen {
        std::string name;
        long kib = 0;
    };
    void look();

    const std::set<std::string> names_;
    std::map<pid_t, Seen> seen_;  // the watching thread's alone until it is joined
    std::jthread thread_;
};

}  // namespace orbitreel::bench
