// A quit request from the system, as the controller answers it: at once
// unless a download runs, which is first cancelled for its resume data; the
// one reply comes when the data is kept, or when the session is too slow.

#include <gtest/gtest.h>

#include "controller/installer.h"
#include "tests/support/event_loop.h"
#include "tests/support/installer_world.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

using test_support::eventually;
using test_support::InstallerWorld;
using test_support::onSessionQueue;
using test_support::readText;
using test_support::settle;
using test_support::writeText;
using Reply = Installer::TerminateReply;

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

class QuitTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.writeManifest(48213405, std::string(64, 'a'));
        run.launch();
    }
    Installer& controller() { return *run.installer; }
    std::vector<std::shared_ptr<test_support::ScriptedTask>>& tasks() { return world.sessions.session->tasks; }

    // A verification stays under way: its job is held.
    InstallerWorld world{{.holdBackgroundJobs = true}};
    test_support::InstallerRun run{world};
};

TEST_F(QuitTest, AQuitWhileDownloadingKeepsTheResumeDataThenRepliesAndShowsNothingOnTheWay) {
    EXPECT_EQ(controller().applicationShouldTerminate(), Reply::now);  // ready

    controller().start();
    ASSERT_EQ(tasks().size(), 1u);
    auto& task = *tasks()[0];
    task.resumeDataOnCancel = bytes("partial");
    EXPECT_EQ(controller().applicationShouldTerminate(), Reply::later);
    EXPECT_EQ(task.cancelled, 1);
    EXPECT_EQ(readText(world.resumeData()), "partial");
    ASSERT_TRUE(eventually([&] { return run.quitReplies == 1; }));

    // A second request while ending starts nothing new.
    EXPECT_EQ(controller().applicationShouldTerminate(), Reply::later);
    EXPECT_EQ(task.cancelled, 1);

    // The cancelled task's completion: kept as any cut, but not shown.
    onSessionQueue([&] {
        controller().didComplete(task, TransferError{PlatformError{"curl", 42, "Cancelada."}, bytes("partial")});
    });
    settle();
    EXPECT_EQ(controller().statusLabel()->text().toStdString(), "Descargando…");
    EXPECT_EQ(readText(world.resumeData()), "partial");
    for (const auto& line : world.logLines()) EXPECT_FALSE(line.starts_with("error ")) << line;
    EXPECT_EQ(run.quitReplies, 1);
    EXPECT_EQ(run.terminations, 0);
}

TEST_F(QuitTest, ASessionThatDoesNotAnswerTheCancelHoldsTheQuitOnlyUntilItsBound) {
    // Resumed from an earlier run's data.
    writeText(world.resumeData(), "earlier");
    controller().start();
    ASSERT_EQ(tasks().size(), 1u);
    auto& task = *tasks()[0];
    ASSERT_TRUE(task.resumeData.has_value());
    task.holdCancel = true;

    EXPECT_EQ(controller().applicationShouldTerminate(), Reply::later);
    EXPECT_EQ(run.quitReplies, 0);
    ASSERT_TRUE(eventually([&] { return run.quitReplies == 1; }));

    // The answer comes after all, with nothing: the task had ended, and what
    // its end kept stays. No second reply.
    ASSERT_TRUE(task.heldCancel);
    onSessionQueue([&] { task.heldCancel(std::nullopt); });
    settle();
    EXPECT_EQ(readText(world.resumeData()), "earlier");
    EXPECT_EQ(run.quitReplies, 1);
}

TEST_F(QuitTest, AQuitAfterTheDownloadEndedOrWhileVerifyingIsAnsweredAtOnce) {
    controller().start();
    ASSERT_EQ(tasks().size(), 1u);
    auto& task = *tasks()[0];
    onSessionQueue([&] {
        controller().didComplete(task, TransferError{PlatformError{"curl", 56, "Se perdió."}, bytes("half")});
    });
    ASSERT_TRUE(eventually([&] { return !controller().isBusy(); }));
    EXPECT_EQ(controller().applicationShouldTerminate(), Reply::now);  // failed

    // "Reintentar" finds a whole image, which is verified, not downloaded.
    writeText(world.image(), "image");
    controller().start();
    ASSERT_TRUE(controller().isBusy());
    ASSERT_EQ(world.heldQueues.held.size(), 1u);
    EXPECT_EQ(controller().applicationShouldTerminate(), Reply::now);
    EXPECT_EQ(task.cancelled, 0);
    EXPECT_EQ(tasks().size(), 1u);
    EXPECT_EQ(readText(world.resumeData()), "half");
    EXPECT_EQ(run.quitReplies, 0);
}

}  // namespace
}  // namespace orbitreel
