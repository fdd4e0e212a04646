#include "tests/e2e/accessibility_bus.h"

#include "stage/waiting.h"
#include "stage/home_view.h"

namespace orbitreel::e2e {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

AccessibilityBus::AccessibilityBus(const fs::path& work, std::optional<stage::UserIdentity> user, const fs::path& home)
    : home_(home) {
    const fs::path daemon = stage::findProgram("dbus-daemon");
    const fs::path send = stage::findProgram("dbus-send");
    fs::path launcher;
    for (const char* candidate : {"/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"})
        if (fs::exists(candidate)) launcher = candidate;
    if (daemon.empty() || send.empty() || launcher.empty()) {
        missing_ = "no session bus or accessibility bus here (Debian packages dbus-daemon, dbus-bin, at-spi2-core)";
        return;
    }
    stage::ProgramLaunch bus;
    bus.program = daemon;
    bus.arguments = {"--session", "--nofork", "--print-address"};
    bus.output = work / "session-bus.txt";
    bus.user = user;
    if (!home.empty()) bus.environment = environment();
    bus_ = stage::ChildProcess(bus);
    if (!stage::waitUntil([&] { return stage::readWholeFile(bus.output).find('\n') != std::string::npos; }, 10s)) {
        missing_ = "the session bus did not start";
        return;
    }
    const std::string address = stage::readWholeFile(bus.output);
    variable_ = "DBUS_SESSION_BUS_ADDRESS=" + address.substr(0, address.find('\n'));
    stage::ProgramLaunch accessibility;
    accessibility.program = launcher;
    accessibility.arguments = {"--launch-immediately"};
    accessibility.environment = environment();
    accessibility.output = work / "accessibility-bus.txt";
    accessibility.user = user;
    launcher_ = stage::ChildProcess(accessibility);
    // The launcher answers once it owns its name; until then the call fails.
    const bool enabled = stage::waitUntil(
        [&] {
            stage::ProgramLaunch announce;
            announce.program = send;
            announce.arguments = {"--session",
                                  "--dest=org.a11y.Bus",
                                  "--print-reply",
                                  "/org/a11y/bus",
                                  "org.freedesktop.DBus.Properties.Set",
                                  "string:org.a11y.Status",
                                  "string:IsEnabled",
                                  "variant:boolean:true"};
            announce.environment = environment();
            announce.user = user;
            return stage::ChildProcess(announce).waitFor(10s) == std::optional<int>(0);
        },
        10s, 100ms);
    if (!enabled) missing_ = "the accessibility bus did not start: " + stage::readWholeFile(accessibility.output);
}

std::vector<std::string> AccessibilityBus::environment() const {
    std::vector<std::string> all{"PATH=/usr/local/bin:/usr/bin:/bin", variable_};
    if (!home_.empty()) {
        all.push_back("HOME=" + home_.string());
        all.push_back("XDG_RUNTIME_DIR=" + home_.string());
    }
    return all;
}

}  // namespace orbitreel::e2e
