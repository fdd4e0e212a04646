#pragma once
// The services the pictures script: a session whose tasks never go out, a
// background queue that holds its jobs (so a state that waits on one can be
// drawn), a switchable running-application count and a workspace that opens
// nothing.

#include <functional>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace orbitreel::pictures {

class HeldTask : public DownloadTask {
public:
    void resume() override {}
    std::optional<HttpResponse> response() const override { return std::nullopt; }
};

class HeldSession : public UrlSession {
public:
    std::shared_ptr<DownloadTask> downloadTask(const std::string&) override { return std::make_shared<HeldTask>(); }
    std::shared_ptr<DownloadTask> downloadTaskWithResumeData(const Bytes&) override {
        return std::make_shared<HeldTask>();
    }
    std::optional<std::string> resumeDataUrl(const Bytes&) const override { return std::nullopt; }
};

class HeldSessions : public UrlSessions {
public:
    SessionDelegate* delegate = nullptr;
    std::unique_ptr<UrlSession> makeSession(const SessionConfiguration&, SessionDelegate& d) override {
        delegate = &d;
        return std::make_unique<HeldSession>();
    }
};

// The main queue is the real one; background jobs are kept, never run.
class HoldingQueues : public Queues {
public:
    explicit HoldingQueues(Queues& main) : main_(main) {}
    void onMain(Work work) override { main_.onMain(std::move(work)); }
    void onMainAfter(std::chrono::milliseconds delay, Work work) override { main_.onMainAfter(delay, std::move(work)); }
    void onUserInitiated(Work work) override { held.push_back(std::move(work)); }
    std::vector<Work> held;

private:
    Queues& main_;
};

class CountedApplications : public RunningApplications {
public:
    std::size_t running = 0;
    std::size_t countWithBundleIdentifier(const std::string&) override { return running; }
};

class SilentWorkspace : public Workspace {
public:
    void openApplication(const Path&, OpenHandler) override {}
};

// The main bundle is a folder of the pictures' own.
class FolderBundle : public Bundles {
public:
    explicit FolderBundle(Path bundle);
    Path mainBundlePath() override { return bundle_; }
    std::optional<Path> mainBundleResource(const std::string& name, const std::string& extension) override;
    std::optional<BundleInfo> bundleAt(const Path&) override { return std::nullopt; }

private:
    Path bundle_;
};

// An environment whose home is a folder of the pictures' own.
class FolderEnvironment : public Environment {
public:
    FolderEnvironment(Path home, std::unique_ptr<Environment> real);
    Path homeDirectory() override { return home_; }
    Path temporaryDirectory() override { return home_ / "tmp"; }
    std::string newUuid() override { return real_->newUuid(); }
    std::string nowIso8601() override { return real_->nowIso8601(); }

private:
    Path home_;
    std::unique_ptr<Environment> real_;
};

}  // namespace orbitreel::pictures
