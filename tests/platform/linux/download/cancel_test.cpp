// Cancelling a task of the libcurl session for its resume data, against a
// real HTTPS release host on loopback.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/linux/download/curl_resume_data.h"
#include "platform/linux/download/curl_url_sessions.h"
#include "tests/platform/linux/download/download_fixture.h"
#include "tests/support/home_environment.h"

namespace orbitreel::test_support {
namespace {

using namespace std::chrono_literals;

// What a cancel's handler was given, and where; waited for from the test.
class CancelAnswer {
public:
    DownloadTask::ResumeDataHandler handler() {
        return [this](std::optional<Bytes> resumeData) {
            std::lock_guard lock(mutex_);
            ++calls;
            given = std::move(resumeData);
            thread = std::this_thread::get_id();
            answered_.notify_all();
        };
    }
    bool wait() {
        std::unique_lock lock(mutex_);
        return answered_.wait_for(lock, 30s, [&] { return calls > 0; });
    }

    int calls = 0;
    std::optional<Bytes> given;
    std::thread::id thread;

private:
    std::mutex mutex_;
    std::condition_variable answered_;
};

class CancelTest : public ::testing::Test {
protected:
    TestReleaseHost host;
    HomeEnvironment environment{host.folder() / "home", host.folder() / "tmp"};
    std::unique_ptr<UrlSessions> sessions = makeCurlUrlSessions(environment);
    RecordingDelegate delegate;
    const std::string url = TestReleaseHost::url("/release.dmg");
};

TEST_F(CancelTest, ACancelledTransferCompletesAsACutWouldAndTheHandlerGetsTheSameResumeData) {
    Bytes content = patternBytes(2'000'000);
    host.server().serve("/release.dmg", release_host::Entity::fromBytes(content, "\"v1\""));
    host.server().fault("/release.dmg", release_host::Fault::stall(700'000));
    auto session = sessions->makeSession(host.configuration(), delegate);
    auto task = session->downloadTask(url);
    task->resume();
    ASSERT_TRUE(host.server().waitForStall("/release.dmg", 30s));
    // Bytes sent are not yet bytes written: without any on disk there is
    // nothing to resume.
    ASSERT_TRUE(delegate.waitForProgress());

    CancelAnswer answer;
    task->cancelByProducingResumeData(answer.handler());
    ASSERT_TRUE(answer.wait());
    ASSERT_TRUE(delegate.waitForCompletion());
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(delegate.completions, 1);
    ASSERT_TRUE(delegate.error.has_value());
    ASSERT_TRUE(answer.given.has_value());
    EXPECT_EQ(delegate.error->resumeData, answer.given);
    EXPECT_EQ(delegate.order.back(), "complete");
    EXPECT_EQ(delegate.threads, std::set{answer.thread});
    const auto state = decodeResumeData(*answer.given);
    ASSERT_TRUE(state.has_value());
    EXPECT_GT(state->bytes, 0);
    EXPECT_LE(state->bytes, 700'000);

    // The task has ended: another cancel gets nothing, and no completion.
    CancelAnswer again;
    task->cancelByProducingResumeData(again.handler());
    ASSERT_TRUE(again.wait());
    EXPECT_FALSE(again.given.has_value());

    // The data continues where the cancel left off.
    RecordingDelegate resumed;
    auto next = sessions->makeSession(host.configuration(), resumed);
    next->downloadTaskWithResumeData(*answer.given)->resume();
    ASSERT_TRUE(resumed.waitForCompletion());
    EXPECT_FALSE(resumed.error.has_value());
    EXPECT_TRUE(resumed.body == content);
    EXPECT_EQ(host.server().requests().back().range, "bytes=" + std::to_string(state->bytes) + "-");
    EXPECT_EQ(delegate.completions, 1);
}

TEST_F(CancelTest, ATaskCancelledBeforeItWasResumedGetsNothingAndNeverStarts) {
    host.server().serve("/release.dmg", release_host::Entity::fromBytes(patternBytes(1000), "\"v1\""));
    auto session = sessions->makeSession(host.configuration(), delegate);
    auto task = session->downloadTask(url);
    CancelAnswer answer;
    task->cancelByProducingResumeData(answer.handler());
    ASSERT_TRUE(answer.wait());
    EXPECT_FALSE(answer.given.has_value());

    // A start would come before the second cancel, which would then find
    // the transfer and complete it.
    task->resume();
    CancelAnswer again;
    task->cancelByProducingResumeData(again.handler());
    ASSERT_TRUE(again.wait());
    EXPECT_EQ(delegate.completions, 0);
    EXPECT_TRUE(host.server().requests().empty());
}

}  // namespace
}  // namespace orbitreel::test_support
