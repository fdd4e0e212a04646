// The window and the process: closing is refused with an alert while the
// installer works (the work goes on) and ends it otherwise; a second start
// hands over to the running installer; a quit request ends it in any state,
// keeping what a download under way had fetched.

#include <signal.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_fixture.h"
#include "stage/child_process.h"

namespace orbitreel::e2e {
namespace {

TEST_F(EndToEnd, ClosingWhileBusyShowsTheAlertAndTheDownloadGoesOn) {
    scene().serveRelease(stage::paced(scene().releaseImage(), 4s));
    openAndPress();
    ASSERT_TRUE(stage::waitUntil([&] { return scene().host().bodyBytesSent() > 0; }, Patience)) << diagnosis();

    scene().closeWindow();
    ASSERT_TRUE(stage::waitUntil([&] { return scene().otherWindow().has_value(); }, Patience)) << diagnosis();
    EXPECT_TRUE(scene().window().has_value());
    scene().dismissAlert();
    EXPECT_TRUE(stage::waitUntil([&] { return !scene().otherWindow(); }, Patience)) << diagnosis();
    EXPECT_TRUE(scene().window().has_value());

    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    ASSERT_EQ(scene().host().requests().size(), 1u);
    EXPECT_EQ(scene().host().requests()[0].bodyBytesSent, static_cast<std::uint64_t>(scene().release().bytes));

    // Installed, not busy: closing ends the installer.
    scene().closeWindow();
    EXPECT_EQ(scene().waitForInstallerExit(Patience), std::optional<int>(0)) << diagnosis();
}

TEST_F(EndToEnd, ClosingWhenReadyQuits) {
    scene().serveRelease(scene().releaseImage());
    scene().openInstaller();
    scene().closeWindow();
    EXPECT_EQ(scene().waitForInstallerExit(Patience), std::optional<int>(0)) << diagnosis();
    EXPECT_TRUE(scene().host().requests().empty());
    EXPECT_FALSE(scene().otherWindow().has_value());
}

}  // namespace
}  // namespace orbitreel::e2e

namespace orbitreel::e2e {
namespace {

TEST_F(EndToEnd, OpeningAgainWhileRunningLeavesOneInstaller) {
    scene().serveRelease(scene().releaseImage());
    scene().openInstaller();
    // A second start of the same program for the same user hands over to
    // the running one and ends.
    stage::ProgramLaunch again;
    again.program = scene().installerBundle() / "Contents/MacOS/OrbitreelInstaller";
    again.environment = stage::userEnvironment(home().home(), scene().displayName());
    stage::ChildProcess second(again);
    EXPECT_EQ(second.waitFor(Patience), std::optional<int>(0));
    EXPECT_TRUE(scene().installerRunning());
    int windows = 0;
    for (auto& window : scene().screen().visibleWindows())
        if (window.title == stage::WindowTitle) ++windows;
    EXPECT_EQ(windows, 1);
    // Only the first one wrote its launch line.
    EXPECT_EQ(std::ranges::count_if(home().logEntries(),
                                    [](const std::string& entry) { return startsWith(entry, "launch "); }),
              1);

    // The first one still works.
    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
}

TEST_F(EndToEnd, QuitRequestsWhenReadyEndTheInstallerWithSuccessAndFreeItsPlace) {
    // Where the running installer keeps its lock and socket.
    const fs::path place = home().home() / "Library/Caches/OrbitreelInstaller-Instance";
    auto holdsNothing = [&] { return !fs::exists(place) || fs::is_empty(place); };
    for (const int quit : {SIGTERM, SIGINT}) {
        scene().openInstaller();
        EXPECT_FALSE(holdsNothing()) << quit;
        scene().installer().signal(quit);
        EXPECT_EQ(scene().waitForInstallerExit(Patience), std::optional<int>(0)) << quit << diagnosis();
        EXPECT_TRUE(holdsNothing()) << quit;
    }
    EXPECT_TRUE(scene().host().requests().empty());
}

// The bound of a quit request: generous beside the installer's own wait for
// its resume data, short beside the minutes a stalled host would hold it.
constexpr auto QuitBound = 10s;

// How far the kept download came, by the session's resume data.
std::optional<std::uint64_t> resumedFrom(const fs::path& resumeData) {
    auto json = nlohmann::json::parse(stage::readWholeFile(resumeData), nullptr, false);
    if (!json.is_object() || !json["bytes"].is_number_unsigned()) return std::nullopt;
    return json["bytes"].get<std::uint64_t>();
}

TEST_F(EndToEnd, QuitRequestWhileDownloadingEndsTheInstallerAndKeepsWhatArrived) {
    const auto size = static_cast<std::uint64_t>(scene().release().bytes);
    scene().serveRelease(stage::paced(scene().releaseImage(), 8s));
    openAndPress();
    ASSERT_TRUE(stage::waitUntil([&] { return scene().host().bodyBytesSent() >= size / 2; }, Patience))
        << diagnosis();
    // The desktop session ends: busy or not, the installer goes, soon.
    scene().installer().signal(SIGTERM);
    ASSERT_EQ(scene().waitForInstallerExit(QuitBound), std::optional<int>(0)) << diagnosis();
    EXPECT_FALSE(fs::exists(home().installedApp()));
    EXPECT_TRUE(home().hiddenCopies().empty());
    EXPECT_TRUE(home().errorEntries().empty()) << diagnosis();
    ASSERT_TRUE(fs::exists(home().resumeData())) << diagnosis();
    const auto kept = resumedFrom(home().resumeData());
    ASSERT_TRUE(kept.has_value());
    EXPECT_GT(*kept, 0u);

    // The next run asks for the rest only, from where the quit left it.
    scene().serveRelease(scene().releaseImage());
    openAndPress();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    auto requests = scene().host().requests();
    ASSERT_EQ(requests.size(), 2u) << diagnosis();
    EXPECT_LE(*kept, requests[0].bodyBytesSent);
    EXPECT_EQ(requests[1].range, "bytes=" + std::to_string(*kept) + "-");
    EXPECT_EQ(requests[1].status, 206);
    EXPECT_EQ(requests[1].bodyBytesSent, size - *kept);
}

TEST_F(EndToEnd, QuitRequestEndsTheInstallerWhileTheHostSendsNothing) {
    // The headers, then not one byte until the host stops.
    const std::string path = stage::pathOfUrl(scene().release().url);
    scene().serveRelease(scene().releaseImage());
    scene().host().fault(path, release_host::Fault::stall(0));
    openAndPress();
    ASSERT_TRUE(scene().host().waitForStall(path, Patience)) << diagnosis();
    scene().installer().signal(SIGTERM);
    ASSERT_EQ(scene().waitForInstallerExit(QuitBound), std::optional<int>(0)) << diagnosis();
    // Nothing arrived, so nothing is kept.
    EXPECT_FALSE(fs::exists(home().resumeData()));
}

}  // namespace
}  // namespace orbitreel::e2e
