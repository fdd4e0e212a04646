// Serves a large file (1 GiB unless given another size in MiB) from the local
// HTTPS release host and downloads it, in the same run, with the URL session
// and with `curl -o`; prints MB/s, CPU seconds and peak memory of each, and
// the time from a cut at 50 % to the end of the resumed transfer.
//
// Each download runs in a child process of its own, so CPU time and peak
// memory are that download's alone; the host runs in another child. The two
// clients take turns for a few rounds (the second argument, 3 by default) and
// the best round of each is shown, as the machine may be busy with others.

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/release.h"
#include "platform/linux/download/curl_url_sessions.h"
#include "stage/release_host/release_host.h"
#include "tests/support/home_environment.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace orbitreel;
using Clock = std::chrono::steady_clock;

struct Measure {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

// Waits for one task and keeps its outcome.
class WaitingDelegate : public SessionDelegate {
public:
    void willPerformRedirection(DownloadTask&, const UrlRequest& request,
                                const std::function<void(std::optional<UrlRequest>)>& completion) override {
        completion(request);
    }
    void didWriteData(DownloadTask&, std::int64_t, std::int64_t total, std::int64_t) override {
        std::lock_guard lock(mutex_);
        written = total;
        ++reports;
    }
    void didFinishDownloading(DownloadTask&, const Path& location) override {
        std::error_code ec;
        auto size = fs::file_size(location, ec);
        std::lock_guard lock(mutex_);
        finishedSize = ec ? -1 : static_cast<std::int64_t>(size);
    }
    void didComplete(DownloadTask&, const std::optional<TransferError>& error) override {
        std::lock_guard lock(mutex_);
        outcome = error;
        done = true;
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done; });
    }
    void reset() {
        std::lock_guard lock(mutex_);
        done = false;
        outcome.reset();
        finishedSize = -1;
    }

    bool done = false;
    std::optional<TransferError> outcome;
    std::int64_t finishedSize = -1;
    std::int64_t written = 0;
    long reports = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

double cpuOf(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Runs `work` in a child process; its exit status, CPU time and peak memory.
Measure inChild(const std::function<int()>& work, int* status) {
    std::fflush(nullptr);  // nothing buffered may be printed twice
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        int code = work();
        std::fflush(nullptr);
        _exit(code);
    }
    int raw = 0;
    rusage usage{};
    wait4(child, &raw, 0, &usage);
    Measure measure;
    measure.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    measure.cpuSeconds = cpuOf(usage);
    measure.peakKiB = usage.ru_maxrss;
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
    return measure;
}

SessionConfiguration configuration(int port, const release_host::Certificates& certificates, const Path& folder) {
    SessionConfiguration config;
    config.connectHostTo = SessionConfiguration::HostOverride{ReleaseHost, port, {}};
    config.trustedCertificates = certificates.authority;
    config.partialDownloadsFolder = folder / "partials";
    return config;
}

void print(const char* name, const Measure& m, std::uint64_t bytes) {
    std::printf("%-8s %8.1f MB/s  %6.2f s wall  %6.2f s CPU  %7.1f MiB peak RSS\n", name, bytes / 1e6 / m.seconds,
                m.seconds, m.cpuSeconds, m.peakKiB / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::uint64_t size = mebibytes << 20;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    char pattern[] = "/tmp/orbitreel-bench-XXXXXX";
    const Path folder = mkdtemp(pattern);
    const auto certificates = release_host::makeCertificates(folder / "tls", {ReleaseHost});

    // The host, in a process of its own.
    int ports[2];
    if (pipe(ports) != 0) return 1;
    std::fflush(nullptr);
    pid_t host = fork();
    if (host == 0) {
        release_host::Server server(certificates);
        server.serve("/big.dmg", release_host::Entity::pattern(size, "\"big\""));
        server.serve("/cut.dmg", release_host::Entity::pattern(size, "\"big\""));
        server.fault("/cut.dmg", release_host::Fault::cut(size / 2));
        int port = server.port();
        if (write(ports[1], &port, sizeof port) != sizeof port) _exit(1);
        pause();
        _exit(0);
    }
    int port = 0;
    if (read(ports[0], &port, sizeof port) != sizeof port) return 1;
    const std::string url = std::string("https://") + ReleaseHost + "/big.dmg";
    std::printf("file: %llu MiB over HTTPS on loopback (port %d)\n", static_cast<unsigned long long>(mebibytes), port);

    int status = 0;
    const Path curlOut = folder / "curl.out";
    Measure curl, session;
    bool curlOk = true, sessionOk = true;
    for (int round = 0; round < rounds; ++round) {
        // curl, as a user would run it.
        Measure c = inChild(
            [&] {
                std::string connectTo = std::string(ReleaseHost) + ":443:127.0.0.1:" + std::to_string(port);
                std::vector<std::string> args = {
                    "curl",         "-s",      "-f", "--cacert",       certificates.authority.string(),
                    "--connect-to", connectTo, "-o", curlOut.string(), url};
                std::vector<char*> arguments;
                for (auto& a : args) arguments.push_back(a.data());
                arguments.push_back(nullptr);
                execvp("curl", arguments.data());
                return 127;
            },
            &status);
        std::error_code ec;
        curlOk = curlOk && status == 0 && fs::file_size(curlOut, ec) == size;
        fs::remove(curlOut, ec);

        // The session.
        Measure s = inChild(
            [&] {
                test_support::HomeEnvironment environment(folder, folder);
                auto sessions = makeCurlUrlSessions(environment);
                WaitingDelegate delegate;
                auto made = sessions->makeSession(configuration(port, certificates, folder), delegate);
                made->downloadTask(url)->resume();
                delegate.wait();
                if (round == 0) std::printf("session: %ld progress reports\n", delegate.reports);
                return (!delegate.outcome && delegate.finishedSize == static_cast<std::int64_t>(size)) ? 0 : 1;
            },
            &status);
        sessionOk = sessionOk && status == 0;
        std::printf("round %d: curl %.1f MB/s, session %.1f MB/s\n", round + 1, size / 1e6 / c.seconds,
                    size / 1e6 / s.seconds);
        if (round == 0 || c.seconds < curl.seconds) curl = c;
        if (round == 0 || s.seconds < session.seconds) session = s;
    }

    // A cut at half, then the resumed rest, timed from the cut.
    double resumeSeconds = 0;
    int timing[2];
    if (pipe(timing) != 0) return 1;
    Measure resumed = inChild(
        [&] {
            test_support::HomeEnvironment environment(folder, folder);
            auto sessions = makeCurlUrlSessions(environment);
            WaitingDelegate delegate;
            auto s = sessions->makeSession(configuration(port, certificates, folder), delegate);
            s->downloadTask(std::string("https://") + ReleaseHost + "/cut.dmg")->resume();
            delegate.wait();
            auto cut = Clock::now();
            if (!delegate.outcome || !delegate.outcome->resumeData) return 2;
            Bytes data = *delegate.outcome->resumeData;
            delegate.reset();
            s->downloadTaskWithResumeData(data)->resume();
            delegate.wait();
            double seconds = std::chrono::duration<double>(Clock::now() - cut).count();
            if (write(timing[1], &seconds, sizeof seconds) != sizeof seconds) return 3;
            return (!delegate.outcome && delegate.finishedSize == static_cast<std::int64_t>(size)) ? 0 : 1;
        },
        &status);
    bool resumeOk = status == 0 && read(timing[0], &resumeSeconds, sizeof resumeSeconds) == sizeof resumeSeconds;

    kill(host, SIGTERM);
    waitpid(host, nullptr, 0);
    std::error_code ec;
    fs::remove_all(folder, ec);

    print("curl", curl, size);
    print("session", session, size);
    std::printf("session/curl throughput: %.2f (target at least 0.90)\n", curl.seconds / session.seconds);
    std::printf(
        "cut at 50%%, resumed: %.2f s from the cut to the end; half the full transfer: %.2f s (%.2fx); "
        "whole cut-and-resume child: %.2f s CPU, %.1f MiB peak RSS\n",
        resumeSeconds, session.seconds / 2, resumeSeconds / (session.seconds / 2), resumed.cpuSeconds,
        resumed.peakKiB / 1024.0);
    if (!curlOk || !sessionOk || !resumeOk) {
        std::printf("FAILED: curl %s, session %s, resume %s\n", curlOk ? "ok" : "failed", sessionOk ? "ok" : "failed",
                    resumeOk ? "ok" : "failed");
        return 1;
    }
    return 0;
}
