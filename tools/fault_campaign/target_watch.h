#pragma once
// Watches the install target (Applications/Orbitreel.app) through inotify, so
// even a moment without an application there is seen, however short.

#include <atomic>
#include <filesystem>
#include <thread>

namespace orbitreel::campaign {

class TargetWatch {
public:
    explicit TargetWatch(const std::filesystem::path& applications);
    ~TargetWatch();
    TargetWatch(const TargetWatch&) = delete;
    TargetWatch& operator=(const TargetWatch&) = delete;

    // How often "Orbitreel.app" went away from the folder (moved out or
    // removed) since the watch began.
    int absences() const { return absences_; }
    bool present() const { return present_; }

private:
    void read();

    int inotify_ = -1;
    int stop_ = -1;
    std::atomic<int> absences_{0};
    std::atomic<bool> present_{false};
    std::thread reader_;
};

}  // namespace orbitreel::campaign
