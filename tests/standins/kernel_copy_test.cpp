// attach and ditto let the kernel copy file content; where it refuses, as
// old kernels and some file systems do, they copy through a buffer, and the
// result is the same, signature included.

#include <gtest/gtest.h>

#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

class KernelCopy : public ::testing::Test {
protected:
    void SetUp() override {
        makeSampleBundle(source);
        // Larger than the fallback's buffer, ending inside it; and empty.
        std::string payload(3 * 1024 * 1024 + 1234, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 2654435761u) >> 13);
        writeFile(source / "Contents" / "Resources" / "payload.bin", payload);
        writeFile(source / "Contents" / "Resources" / "empty", "");
        ToolRun signing = runTool(Codesign, {"--sign", DevelopmentKey, source.string()});
        ASSERT_EQ(signing.status, 0) << signing.errors;
        ToolRun created = runTool(Hdiutil, {"create", "-srcfolder", source.parent_path().string(), image.string()});
        ASSERT_EQ(created.status, 0) << created.errors;
    }

    // `tool` as is, or with copy_file_range failing with `error`.
    static ToolRun run(const std::string& error, const std::string& tool, std::vector<std::string> arguments) {
        if (error.empty()) return runTool(tool, arguments);
        arguments.insert(arguments.begin(), {error, tool});
        return runTool(WithoutKernelCopy, arguments);
    }

    ToolRun attach(const std::string& error, const fs::path& mount) {
        return run(error, Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()});
    }

    void expectSameAsSource(const fs::path& bundle) {
        ASSERT_EQ(listTree(bundle), listTree(source));
        for (const std::string& name : listTree(source)) {
            if (fs::is_regular_file(source / name) && !fs::is_symlink(source / name)) {
                EXPECT_TRUE(readFile(bundle / name) == readFile(source / name)) << name;
            }
        }
        ToolRun verified = runTool(Codesign, {"--verify", "--deep", "--strict", bundle.string()});
        EXPECT_EQ(verified.status, 0) << verified.errors;
    }

    TempDir dir;
    fs::path source = dir / "source" / "Orbitreel.app";
    fs::path image = dir / "image.dmg";
};

TEST_F(KernelCopy, AttachAndDittoGiveTheSameBytesWhetherTheKernelCopiesOrNot) {
    for (const std::string error : {"", "ENOSYS", "EXDEV", "EINVAL", "EOPNOTSUPP"}) {
        SCOPED_TRACE(error.empty() ? "kernel copy" : error);
        const fs::path mount = dir / ("mount" + error), copy = dir / ("copy" + error + ".app");
        fs::create_directory(mount);
        ToolRun attached = attach(error, mount);
        ASSERT_EQ(attached.status, 0) << attached.errors;
        expectSameAsSource(mount / "Orbitreel.app");

        ToolRun copied = run(error, Ditto, {(mount / "Orbitreel.app").string(), copy.string()});
        ASSERT_EQ(copied.status, 0) << copied.errors;
        expectSameAsSource(copy);
        EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 0);
    }
}

TEST_F(KernelCopy, ACopyTheKernelFailsFailsTheToolAndLeavesNothing) {
    const fs::path mount = dir / "mount";
    fs::create_directory(mount);
    ToolRun attached = attach("EIO", mount);
    EXPECT_EQ(attached.status, 1);
    EXPECT_NE(attached.errors.find("Input/output error"), std::string::npos) << attached.errors;
    EXPECT_TRUE(fs::is_empty(mount));

    const fs::path copy = dir / "copy.app";
    ToolRun copied = run("EIO", Ditto, {source.string(), copy.string()});
    EXPECT_EQ(copied.status, 1);
    EXPECT_NE(copied.errors.find("Input/output error"), std::string::npos) << copied.errors;
    EXPECT_FALSE(fs::exists(copy));
}

}  // namespace
}  // namespace orbitreel::standins::test_support
