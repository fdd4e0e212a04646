// The download as a user meets its faults: a cut, the installer closed after
// a cut, a redirect off the release host, a missing file, a changed byte.

#include "tests/e2e/e2e_fixture.h"

namespace orbitreel::e2e {
namespace {

using release_host::Fault;

std::uint64_t totalSent(stage::Scene& scene) { return scene.host().bodyBytesSent(); }

// The installer's cut message: the fixed text, then the platform's reason.
void expectCutMessage(const std::string& error) {
    const std::string first = std::string(CutMessage) + "\n";
    EXPECT_TRUE(startsWith(error, first)) << error;
    EXPECT_GT(error.size(), first.size()) << "no reason after the message";
}

// The retry asked for the rest only, and the whole cost less than 1.1 images.
void expectResumed(stage::Scene& scene) {
    const auto size = static_cast<std::uint64_t>(scene.release().bytes);
    auto requests = scene.host().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].status, 206);
    EXPECT_TRUE(startsWith(requests[1].range, "bytes=")) << requests[1].range;
    EXPECT_FALSE(requests[1].ifRange.empty());
    EXPECT_LT(totalSent(scene) * 10, size * 11) << totalSent(scene) << " bytes sent for " << size;
}

TEST_F(EndToEnd, CutHalfWayThenRetryFetchesOnlyTheRest) {
    const auto size = static_cast<std::uint64_t>(scene().release().bytes);
    scene().serveRelease(scene().releaseImage());
    scene().host().fault(stage::pathOfUrl(scene().release().url), Fault::cut(size / 2));

    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    expectCutMessage(home().errorEntries().at(0));
    EXPECT_TRUE(fs::exists(home().resumeData()));
    EXPECT_FALSE(fs::exists(home().cachedImage()));
    EXPECT_FALSE(fs::exists(home().installedApp()));

    scene().pressButton();  // "Reintentar"
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    expectResumed(scene());
    EXPECT_FALSE(fs::exists(home().resumeData()));
}

TEST_F(EndToEnd, InstallerClosedAfterACutResumesWhenOpenedAgain) {
    const auto size = static_cast<std::uint64_t>(scene().release().bytes);
    scene().serveRelease(scene().releaseImage());
    scene().host().fault(stage::pathOfUrl(scene().release().url), Fault::cut(size / 2));

    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    // Not busy: closing the window ends the installer.
    scene().closeWindow();
    ASSERT_EQ(scene().waitForInstallerExit(Patience), std::optional<int>(0)) << diagnosis();
    EXPECT_TRUE(fs::exists(home().resumeData()));

    openAndPress();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    expectResumed(scene());
}

TEST_F(EndToEnd, RedirectsOffTheReleaseHostAreRefusedAndOnItFollowed) {
    const std::string path = stage::pathOfUrl(scene().release().url);
    scene().host().redirect(path, "https://downloads.example.com" + path);
    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    EXPECT_EQ(home().errorEntries().back(), RefusedMessage);

    // Plain HTTP on the right host is refused just the same.
    scene().host().redirect(path, std::string("http://") + stage::ReleaseHostName + path);
    scene().pressButton();
    ASSERT_TRUE(waitForError(1)) << diagnosis();
    EXPECT_EQ(home().errorEntries().back(), RefusedMessage);
    EXPECT_FALSE(fs::exists(home().cachedImage()));
    EXPECT_FALSE(fs::exists(home().installedApp()));

    // HTTPS on the release host is followed.
    scene().host().redirect(path, "/mirror/Orbitreel.dmg");
    scene().host().serve("/mirror/Orbitreel.dmg", scene().releaseImage());
    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    EXPECT_EQ(scene().host().requests().size(), 4u);
}

TEST_F(EndToEnd, MissingFileIsRefusedAndKeepsNothing) {
    // Nothing served: the release host answers 404.
    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    EXPECT_EQ(home().errorEntries().back(), RefusedMessage);
    ASSERT_EQ(scene().host().requests().size(), 1u);
    EXPECT_EQ(scene().host().requests()[0].status, 404);
    EXPECT_FALSE(fs::exists(home().cachedImage()));
    EXPECT_FALSE(fs::exists(home().resumeData()));

    scene().serveRelease(scene().releaseImage());
    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
}

TEST_F(EndToEnd, ImageWithOneByteChangedIsRemovedWithTheVerificationMessage) {
    const auto size = static_cast<std::uint64_t>(scene().release().bytes);
    scene().serveRelease(stage::withByteChanged(scene().releaseImage(), size / 3));
    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    EXPECT_EQ(home().errorEntries().back(), VerificationMessage);
    EXPECT_FALSE(fs::exists(home().cachedImage()));
    EXPECT_FALSE(fs::exists(home().installedApp()));
    EXPECT_TRUE(home().hiddenCopies().empty());

    // The retry fetches the image afresh.
    scene().serveRelease(scene().releaseImage());
    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    auto requests = scene().host().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].range.empty());
    EXPECT_EQ(requests[1].bodyBytesSent, size);
}

TEST_F(EndToEnd, ARetryAfterAResumedImageFailedVerificationDownloadsAfresh) {
    const auto size = static_cast<std::uint64_t>(scene().release().bytes);
    const std::string path = stage::pathOfUrl(scene().release().url);
    scene().serveRelease(scene().releaseImage());
    scene().host().fault(path, Fault::cut(size / 2));
    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    expectCutMessage(home().errorEntries().back());

    // The range is answered with the whole image: wrong bytes, and more of
    // them than the response declared.
    Fault whole;
    whole.wholeFileAsRange = true;
    scene().host().fault(path, whole);
    scene().pressButton();
    ASSERT_TRUE(waitForError(1)) << diagnosis();
    EXPECT_EQ(home().errorEntries().back(), VerificationMessage);
    EXPECT_FALSE(fs::exists(home().cachedImage()));
    EXPECT_FALSE(fs::exists(home().resumeData()));

    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    auto requests = scene().host().requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].status, 206);
    EXPECT_TRUE(requests[2].range.empty());
    EXPECT_EQ(requests[2].bodyBytesSent, size);
}

TEST_F(EndToEnd, AResumedRequestAnsweredWithAnErrorStatusKeepsItsResumeData) {
    const auto size = static_cast<std::uint64_t>(scene().release().bytes);
    const std::string path = stage::pathOfUrl(scene().release().url);
    scene().serveRelease(scene().releaseImage());
    scene().host().fault(path, Fault::cut(size / 2));
    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    ASSERT_TRUE(fs::exists(home().resumeData()));

    size_t errors = 1;
    for (int status : {404, 500, 416}) {
        SCOPED_TRACE(status);
        scene().host().respond(path, status);
        scene().pressButton();
        ASSERT_TRUE(waitForError(errors++)) << diagnosis();
        EXPECT_EQ(home().errorEntries().back(), RefusedMessage);
        EXPECT_TRUE(fs::exists(home().resumeData()));
        EXPECT_FALSE(fs::exists(home().cachedImage()));
    }

    // The host is back: the rest is fetched, not the whole image.
    scene().serveRelease(scene().releaseImage());
    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    auto requests = scene().host().requests();
    ASSERT_EQ(requests.size(), 5u);
    for (std::size_t i = 1; i < requests.size(); ++i) EXPECT_EQ(requests[i].range, requests[1].range);
    EXPECT_EQ(requests.back().status, 206);
    EXPECT_LT(totalSent(scene()) * 10, size * 11);
}

}  // namespace
}  // namespace orbitreel::e2e
