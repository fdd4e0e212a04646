#pragma once
// The Platform a test hands the logic: the real Linux services, in folders of
// the test's own, with any service swapped for one the test brings (a
// decorator that injects faults, a scripted URL session, queues that hold
// their background jobs).
//
//     TestPlatform services;
//     FaultyFiles files{services.realFiles()};
//     Platform platform = services.withHome(home, temporary).withFiles(files).build();

#include <memory>

#include "platform/platform.h"

namespace orbitreel::test_support {

class TestPlatform {
public:
    TestPlatform();
    ~TestPlatform();
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    // The user's home and temporary folders; the real ones otherwise.
    TestPlatform& withHome(const Path& home, const Path& temporary);
    // The installer's own bundle is this folder (other bundles are read for
    // real); the running program's otherwise.
    TestPlatform& withBundle(const Path& bundle);
    // Where hdiutil, codesign and ditto lie; the main bundle's
    // Contents/Helpers otherwise, as in the program.
    TestPlatform& withHelpers(const Path& folder);
    // The system Applications folder; "/Applications" otherwise.
    TestPlatform& withSystemApplications(const Path& folder);

    // A service of the test's own in place of the real one. It must outlive
    // every use of the built platform.
    TestPlatform& withFiles(Files& files);
    TestPlatform& withProcesses(Processes& processes);
    TestPlatform& withRunningApplications(RunningApplications& running);
    TestPlatform& withWorkspace(Workspace& workspace);
    TestPlatform& withSession(UrlSessions& sessions);
    TestPlatform& withQueues(Queues& queues);

    // The real services, made on first use, for a test's own service to wrap.
    // The running applications and the workspace look at the bundles, and
    // the URL sessions at the environment: ask for them after withBundle and
    // withHome.
    Files& realFiles();
    Processes& realProcesses();
    RunningApplications& realRunningApplications();
    Workspace& realWorkspace();
    UrlSessions& realSessions();
    Environment& environment();
    Bundles& bundles();
    Queues& queues();

    // Every service: the test's own where given, the real one elsewhere.
    Platform build();

    // Waits for the background jobs still running and drops the queues; a
    // world calls it before the services its jobs use go away.
    void stopQueues();

private:
    struct Real;
    std::unique_ptr<Real> real_;
    Platform chosen_;  // the test's own services and locations
};

}  // namespace orbitreel::test_support
