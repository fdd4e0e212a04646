// An image that passes the download checks but holds an application whose
// signature does not: the install refuses it, and a retry does no better.

#include "tests/e2e/e2e_fixture.h"
#include "stage/release_builder.h"

namespace orbitreel::e2e {
namespace {

TEST_F(EndToEnd, TamperedSignatureKeepsTheImageAndInstallsNothing) {
    // A release whose manifest is right about the image, and whose
    // application was changed after it was signed.
    const auto manifest = stage::makeRelease({work() / "tampered", "1.4.2", 0, {"--tamper"}});
    stage::SceneOptions options;
    options.installerBundle = stage::installerCarrying(manifest, work() / "installer");
    options.releaseImage = work() / "tampered/Orbitreel-Mac-1.4.2.dmg";
    scene(options).serveRelease(scene().releaseImage());

    openAndPress();
    ASSERT_TRUE(waitForError(0)) << diagnosis();
    EXPECT_EQ(home().errorEntries().back(), ToolMessage);
    ASSERT_TRUE(fs::exists(home().cachedImage()));
    EXPECT_EQ(fs::file_size(home().cachedImage()), static_cast<std::uintmax_t>(scene().release().bytes));
    EXPECT_FALSE(fs::exists(home().installedApp()));
    EXPECT_TRUE(home().hiddenCopies().empty());

    // The retry checks the kept image again, without downloading it.
    scene().pressButton();
    ASSERT_TRUE(waitForError(1)) << diagnosis();
    EXPECT_EQ(home().errorEntries().back(), ToolMessage);
    EXPECT_EQ(scene().host().requests().size(), 1u);
    EXPECT_FALSE(fs::exists(home().installedApp()));
    EXPECT_TRUE(home().hiddenCopies().empty());
    EXPECT_EQ(home().applicationStarts(), 0);
}

}  // namespace
}  // namespace orbitreel::e2e
