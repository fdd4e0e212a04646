// How the stand-ins fail: one line on standard error, "TOOL: what went
// wrong", and a failed system call keeps its errno on the way there.

#include <gtest/gtest.h>

#include <cerrno>

#include "standins/hdiutil/image_verify.h"
#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

TEST(StandinFailures, AreOneLineNamingTheToolAndKeepASystemCallsErrno) {
    TempDir dir;
    const std::string missing = (dir / "missing").string();
    const std::string bundle = (dir / "Unsigned.app").string();
    fs::create_directories(fs::path(bundle) / "Contents");

    const ToolRun verified = runTool(Hdiutil, {"verify", missing});
    EXPECT_EQ(verified.status, 1);
    EXPECT_EQ(verified.errors, "hdiutil: verify failed: cannot open " + missing + ": No such file or directory\n");
    EXPECT_EQ(runTool(Codesign, {"--verify", "--deep", "--strict", bundle}).errors,
              "codesign: " + bundle + ": the bundle is not signed\n");
    EXPECT_EQ(runTool(Ditto, {missing, (dir / "copy").string()}).errors,
              "ditto: cannot read " + missing + ": No such file or directory\n");

    // The same failure as a value, through the reader that found it.
    auto value = verifyImage(missing);
    ASSERT_FALSE(value);
    const PlatformError* error = value.error().platformError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, "posix");
    EXPECT_EQ(error->code, ENOENT);
}

}  // namespace
}  // namespace orbitreel::standins::test_support
