#include "stage/target_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace orbitreel::stage {

namespace {
constexpr const char* Target = "Orbitreel.app";
}

TargetWatch::TargetWatch(const std::filesystem::path& applications) : applications_(applications) {
    inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (inotify_ >= 0)
        folder_ =
            ::inotify_add_watch(inotify_, applications.c_str(), IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE);
    if (inotify_ < 0 || stop_ < 0 || folder_ < 0) throw std::runtime_error("cannot watch " + applications.string());
    std::error_code error;
    for (auto& entry : std::filesystem::directory_iterator(applications, error))
        if (entry.is_directory(error) && !entry.is_symlink(error)) watchSubfolder(entry.path().filename().string());
    present_ = std::filesystem::exists(applications / Target);
    reader_ = std::thread([this] { read(); });
}

TargetWatch::~TargetWatch() {
    std::uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
    reader_.join();
    if (maybeExchange_) leave();
    ::close(inotify_);
    ::close(stop_);
}

// Moves only: the other half of an exchange with the target. Best effort:
// an exchange it misses counts as a going away, never the other way round.
void TargetWatch::watchSubfolder(const std::string& name) {
    (void)::inotify_add_watch(inotify_, (applications_ / name).c_str(),
                              IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW);
}

void TargetWatch::leave() {
    if (present_) ++absences_;
    present_ = false;
}

// An exchange of the target with X comes as two moves with two cookies: X to
// the target, then the target to X.
void TargetWatch::take(const Event& event) {
    if (event.folder == folder_ && (event.mask & IN_CREATE) && (event.mask & IN_ISDIR)) watchSubfolder(event.name);
    if (maybeExchange_) {
        maybeExchange_ = false;
        const bool exchanged = (event.mask & IN_MOVED_TO) && event.cookie == exchangeCookie_ &&
                               event.folder == exchangeFolder_ && event.name == exchangeWith_;
        if (!exchanged) leave();
    }
    if (event.folder == folder_ && event.name == Target) {
        if (event.mask & IN_MOVED_FROM) {
            const Event& in = before_[1];
            const Event& out = before_[0];
            maybeExchange_ = (in.mask & IN_MOVED_TO) && in.folder == folder_ && in.name == Target &&
                             (out.mask & IN_MOVED_FROM) && out.cookie == in.cookie && event.cookie != in.cookie;
            exchangeFolder_ = out.folder;
            exchangeWith_ = out.name;
            exchangeCookie_ = event.cookie;
            if (!maybeExchange_) leave();
        } else if (event.mask & IN_DELETE) {
            leave();
        } else if (event.mask & (IN_MOVED_TO | IN_CREATE)) {
            present_ = true;
        }
    }
    before_[0] = before_[1];
    before_[1] = event;
}

void TargetWatch::read() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        // Events already queued are read before stopping.
        ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        for (ssize_t at = 0; got > 0 && at < got;) {
            auto* event = reinterpret_cast<inotify_event*>(buffer + at);
            if (event->len > 0) take(Event{event->wd, event->name, event->mask, event->cookie});
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        if (fds[1].revents & POLLIN) return;
    }
}

}  // namespace orbitreel::stage
