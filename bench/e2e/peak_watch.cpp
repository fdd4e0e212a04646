#include "bench/e2e/peak_watch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orbitreel::bench {

namespace fs = std::filesystem;

namespace {

// 0 once the process has ended (a zombie has no memory left to show).
long highWaterKiB(const fs::path& process) {
    std::ifstream status(process / "status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:")) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

}  // namespace

PeakWatch::PeakWatch(std::set<std::string> names) : names_(std::move(names)) {
    thread_ = std::jthread([this](std::stop_token stopping) {
        while (!stopping.stop_requested()) {
            look();
            std::this_thread::sleep_for(Period);
        }
    });
}

PeakWatch::~PeakWatch() { stop(); }

void PeakWatch::look() {
    std::error_code error;
    for (auto& entry : fs::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        const auto program = fs::read_symlink(entry.path() / "exe", linkError).filename().string();
        if (linkError || !names_.contains(program)) continue;
        const long kib = highWaterKiB(entry.path());
        // A process that runs another program starts a new run: the
        // installer's child becomes a stand-in, and the installer's memory
        // must not be counted as the stand-in's.
        auto& seen = seen_[static_cast<pid_t>(std::stol(name))];
        if (seen.name != program) seen = Seen{program, 0};
        seen.kib = std::max(seen.kib, kib);
    }
}

std::map<std::string, PeakWatch::Peak> PeakWatch::stop() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    std::map<std::string, Peak> peaks;
    for (auto& [pid, seen] : seen_) {
        auto& peak = peaks[seen.name];
        peak.kib = std::max(peak.kib, seen.kib);
        ++peak.runs;
    }
    return peaks;
}

}  // namespace orbitreel::bench
