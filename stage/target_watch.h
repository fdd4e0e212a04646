#pragma once
// Watches the install target (Applications/Orbitreel.app) through inotify, so
// even a moment without an application there is seen, however short.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

namespace orbitreel::stage {

class TargetWatch {
public:
    explicit TargetWatch(const std::filesystem::path& applications);
    ~TargetWatch();
    TargetWatch(const TargetWatch&) = delete;
    TargetWatch& operator=(const TargetWatch&) = delete;

    // How often "Orbitreel.app" went away from the folder (moved out or
    // removed) since the watch began. An exchange with another entry, of
    // this folder or of a folder in it (a private folder of the
    // installer's), is no going away: something is at the target throughout.
    int absences() const { return absences_; }
    bool present() const { return present_; }

private:
    struct Event {
        int folder = -1;  // the watch it came from
        std::string name;
        std::uint32_t mask = 0;
        std::uint32_t cookie = 0;
    };
    void read();
    void take(const Event& event);
    void leave();
    void watchSubfolder(const std::string& name);

    std::filesystem::path applications_;
    int inotify_ = -1;
    int folder_ = -1;
    int stop_ = -1;
    std::atomic<int> absences_{0};
    std::atomic<bool> present_{false};
    // The reader's own: the two events before, and a move out of the target
    // that may be the second half of an exchange.
    Event before_[2];
    bool maybeExchange_ = false;
    int exchangeFolder_ = -1;
    std::string exchangeWith_;
    std::uint32_t exchangeCookie_ = 0;
    std::thread reader_;
};

}  // namespace orbitreel::stage
