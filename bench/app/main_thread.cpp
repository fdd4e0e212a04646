// How free the main thread stays during the whole verify-and-install job: a
// signed release image of about 1 GiB goes from the cache through the size
// and digest checks, verify, attach, the signature checks, the copy and the
// swap to the launch of the installed application. For each stage it prints
// the largest delay of a 16 ms timer on the main thread (target: none above
// 50 ms) and, where the bar sweeps, the bar's frames a second (target: at
// least 55).
//
//   bench_app_main_thread [FOLDER]   (default: a folder in the build tree;
//                                     it must lie on disk, not in memory)
//
// The release tool makes the image once and it stays in FOLDER for later
// runs, under a key of what made it (the stand-ins, the demo application,
// the tool, the signing key, the size). Each run copies it into the cache of
// a fresh home in FOLDER and gives the installer its manifest, so every check
// passes and the job ends installed; the launched application is stopped
// at the end.
//
// The stages are told apart from outside the installer, by decorators of
// its platform services: a stage begins when its tool starts (the first
// codesign checks the mounted image, the second the copy), the swap when the
// staging copy is moved or exchanged into place, the launch when the
// workspace is asked to open the installed application; the digest stage
// runs from the press to the first tool. A delay counts in the stage in
// which its tick was due.

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/hex.h"
#include "controller/installer.h"
#include "core/cache_paths.h"
#include "core/digest.h"
#include "install/hidden_names.h"
#include "tests/support/scripted_url_sessions.h"
#include "tests/support/test_platform.h"
#include "ui/bar.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;
using Seconds = std::chrono::duration<double>;

const std::string Version = "1.4.2";
// The application's own files and the image's structures bring it to about 1 GiB.
constexpr std::int64_t PayloadBytes = (std::int64_t(1) << 30) - (std::int64_t(1) << 20);
// The image, its copy in the cache, the mounted content and the installed copy.
constexpr std::int64_t NeededBytes = std::int64_t(5) << 30;

constexpr auto TimerPeriod = std::chrono::milliseconds(16);
constexpr double DelayTargetMs = 50;
constexpr double FramesTarget = 55;
// A shorter stage holds too few frames for a rate of its own; the rate over
// the whole sweep covers it.
constexpr double ShortestRatedSeconds = 0.25;
// After the launch: time for the open to answer and for ticks held up by
// the main thread's last work to come in.
constexpr auto AfterLaunch = std::chrono::milliseconds(500);
constexpr auto LongestOpen = std::chrono::seconds(10);

enum class Stage { digest, verify, attach, mountedSignature, copy, copySignature, swap, detach, launch };
constexpr int StageCount = 9;
constexpr std::array<const char*, StageCount> StageNames{
    "digest", "verify", "attach", "signature (mounted)", "copy", "signature (copy)", "swap", "detach", "launch"};
int index(Stage stage) { return static_cast<int>(stage); }

struct ToolRun {
    std::string what;
    double seconds = 0;
    int status = -1;
};

// What the decorators see, from whichever thread they see it on: when each
// stage began, the tool runs, the removal of the cached image, the open's
// answer.
class Timeline {
public:
    void begin(Stage stage) {
        std::lock_guard lock(mutex_);
        if (!begins_[index(stage)]) begins_[index(stage)] = Clock::now();
    }
    bool began(Stage stage) const {
        std::lock_guard lock(mutex_);
        return begins_[index(stage)].has_value();
    }
    Clock::time_point beginOf(Stage stage) const {
        std::lock_guard lock(mutex_);
        return begins_[index(stage)].value_or(Clock::time_point{});
    }
    void end() {
        std::lock_guard lock(mutex_);
        end_ = Clock::now();
    }
    // The stage under way at `time`; none before the press or after the end.
    std::optional<Stage> at(Clock::time_point time) const {
        std::lock_guard lock(mutex_);
        std::optional<Stage> found;
        if (time > end_) return found;
        for (int i = 0; i < StageCount; ++i)
            if (begins_[i] && *begins_[i] <= time) found = Stage(i);
        return found;
    }
    // From the stage's begin to the next one's, or to the end.
    double seconds(Stage stage) const {
        std::lock_guard lock(mutex_);
        if (!begins_[index(stage)]) return 0;
        Clock::time_point until = end_;
        for (int i = index(stage) + 1; i < StageCount; ++i) {
            if (begins_[i]) {
                until = *begins_[i];
                break;
            }
        }
        return Seconds(until - *begins_[index(stage)]).count();
    }

    void noteRun(ToolRun run) {
        std::lock_guard lock(mutex_);
        runs_.push_back(std::move(run));
    }
    std::vector<ToolRun> runs() const {
        std::lock_guard lock(mutex_);
        return runs_;
    }
    void noteRemoval(Clock::time_point start, Clock::time_point finish) {
        std::lock_guard lock(mutex_);
        removal_ = {start, finish};
    }
    std::optional<std::pair<Clock::time_point, Clock::time_point>> removal() const {
        std::lock_guard lock(mutex_);
        return removal_;
    }
    void noteOpened(std::optional<std::string> error) {
        std::lock_guard lock(mutex_);
        opened_ = true;
        openError_ = std::move(error);
    }
    bool opened() const {
        std::lock_guard lock(mutex_);
        return opened_;
    }
    std::optional<std::string> openError() const {
        std::lock_guard lock(mutex_);
        return openError_;
    }

private:
    mutable std::mutex mutex_;
    std::array<std::optional<Clock::time_point>, StageCount> begins_{};
    Clock::time_point end_ = Clock::time_point::max();
    std::vector<ToolRun> runs_;
    std::optional<std::pair<Clock::time_point, Clock::time_point>> removal_;
    bool opened_ = false;
    std::optional<std::string> openError_;
};

// The real runner; a tool's start begins its stage.
class StagedProcesses : public Processes {
public:
    StagedProcesses(Processes& real, Timeline& timeline) : real_(real), timeline_(timeline) {}

    Result<int> run(const Path& executable, const std::vector<std::string>& arguments) override {
        const std::string tool = executable.filename().string();
        const std::string first = arguments.empty() ? std::string() : arguments.front();
        if (tool == "hdiutil" && first == "verify") timeline_.begin(Stage::verify);
        if (tool == "hdiutil" && first == "attach") timeline_.begin(Stage::attach);
        if (tool == "hdiutil" && first == "detach") timeline_.begin(Stage::detach);
        if (tool == "ditto") timeline_.begin(Stage::copy);
        if (tool == "codesign") {
            timeline_.begin(timeline_.began(Stage::mountedSignature) ? Stage::copySignature
                                                                      : Stage::mountedSignature);
        }
        const auto start = Clock::now();
        auto status = real_.run(executable, arguments);
        timeline_.noteRun({tool == "hdiutil" ? tool + " " + first : tool, Seconds(Clock::now() - start).count(),
                           status ? *status : -1});
        // The checked copy goes in place right after its check.
        if (tool == "codesign" && timeline_.began(Stage::copySignature)) timeline_.begin(Stage::swap);
        return status;
    }

private:
    Processes& real_;
    Timeline& timeline_;
};

// The real files; the cached image's removal is timed.
class StagedFiles : public Files {
public:
    StagedFiles(Files& real, Timeline& timeline, Path cachedImage)
        : real_(real), timeline_(timeline), cachedImage_(std::move(cachedImage)) {}

    Result<void> move(const Path& from, const Path& to) override { return real_.move(from, to); }
    Result<Exchange> exchange(const Path& first, const Path& second) override {
        return real_.exchange(first, second);
    }
    Result<void> remove(const Path& path) override {
        if (path != cachedImage_) return real_.remove(path);
        const auto start = Clock::now();
        auto removed = real_.remove(path);
        timeline_.noteRemoval(start, Clock::now());
        return removed;
    }

    Result<void> createDirectories(const Path& folder) override { return real_.createDirectories(folder); }
    bool exists(const Path& path) override { return real_.exists(path); }
    bool isWritable(const Path& path) override { return real_.isWritable(path); }
    Result<std::int64_t> fileSize(const Path& path) override { return real_.fileSize(path); }
    Result<std::vector<std::string>> listFolder(const Path& folder) override { return real_.listFolder(folder); }
    bool isOwnFolder(const Path& path) override { return real_.isOwnFolder(path); }
    Result<ItemIdentity> identityAt(const Path& path) override { return real_.identityAt(path); }
    Result<std::unique_ptr<PrivateFolder>> makePrivateFolder(const Path& path) override {
        return real_.makePrivateFolder(path);
    }
    Result<std::unique_ptr<PrivateFolder>> findPrivateFolder(const Path& parent,
                                                             const ItemIdentity& identity) override {
        return real_.findPrivateFolder(parent, identity);
    }
    Result<void> writePrivately(const Path& path, std::span<const std::uint8_t> bytes) override {
        return real_.writePrivately(path, bytes);
    }
    Result<Bytes> readAll(const Path& path) override { return real_.readAll(path); }
    Result<void> write(const Path& path, std::span<const std::uint8_t> bytes, bool atomic) override {
        return real_.write(path, bytes, atomic);
    }
    Result<void> create(const Path& path, std::span<const std::uint8_t> bytes) override {
        return real_.create(path, bytes);
    }
    Result<std::unique_ptr<FileReader>> openForReading(const Path& path) override {
        return real_.openForReading(path);
    }
    Result<std::unique_ptr<FileAppender>> openForWriting(const Path& path) override {
        return real_.openForWriting(path);
    }

private:
    Files& real_;
    Timeline& timeline_;
    const Path cachedImage_;
};

// The real workspace; asking it to open begins the launch, and its answer is noted.
class StagedWorkspace : public Workspace {
public:
    StagedWorkspace(Workspace& real, Timeline& timeline) : real_(real), timeline_(timeline) {}

    void openApplication(const InstalledApplication& application, OpenHandler handler) override {
        timeline_.begin(Stage::launch);
        real_.openApplication(application, [&timeline = timeline_, handler = std::move(handler)](std::optional<Error> error) {
            timeline.noteOpened(error ? std::optional(error->localizedDescription()) : std::nullopt);
            handler(std::move(error));
        });
    }

private:
    Workspace& real_;
    Timeline& timeline_;
};

class PaintTimes : public QObject {
public:
    std::vector<Clock::time_point> times;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) times.push_back(Clock::now());
        return false;
    }
};

// Why the folder will not do: figures taken in memory say nothing of a disk.
std::optional<std::string> unfitFolder(const Path& folder) {
    struct statfs about {};
    if (::statfs(folder.c_str(), &about) != 0) return "cannot look at it";
    if (about.f_type == TMPFS_MAGIC || about.f_type == RAMFS_MAGIC) {
        return "it lies in memory (tmpfs); give a folder on disk";
    }
    if (std::int64_t(about.f_bavail) * std::int64_t(about.f_bsize) < NeededBytes) {
        return "less than " + std::to_string(NeededBytes >> 30) + " GiB free";
    }
    return std::nullopt;
}

struct MadeRelease {
    Path image;
    Path manifest;
};

// A signed release of about 1 GiB from the release tool, or the one made
// earlier from the same inputs: the folder is named after their digest, and
// its marker is written last, so neither a stale nor a cut-short one is used.
std::optional<MadeRelease> signedRelease(const Path& folder, Files& files, Hashing& hashing) {
    const Path helpers = ORBITREEL_BENCH_HELPERS_DIR;
    const std::vector<Path> inputs{helpers / "hdiutil", helpers / "codesign", ORBITREEL_BENCH_DEMO_APP,
                                   ORBITREEL_BENCH_RELEASE_TOOL, ORBITREEL_BENCH_SIGNING_KEY};
    auto key = hashing.makeSha256();
    key->update(asBytes(Version + " " + std::to_string(PayloadBytes)));
    for (const auto& input : inputs) {
        auto sum = digest(files, hashing, input);
        if (!sum) {
            std::fprintf(stderr, "cannot read %s: %s\n", input.c_str(), sum.error().localizedDescription().c_str());
            return std::nullopt;
        }
        key->update(asBytes(*sum));
    }
    const std::string name = "release-" + base::toHex(key->finalize()).substr(0, 16);
    const Path out = folder / name;
    const MadeRelease made{out / ("Orbitreel-Mac-" + Version + ".dmg"), out / "release.json"};
    const Path marker = out / "made";
    if (fs::exists(marker) && fs::exists(made.image) && fs::exists(made.manifest)) {
        std::printf("release: %s, made earlier\n", made.image.c_str());
        return made;
    }

    // Images of other inputs are stale, and too big to pile up.
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with("release-")) fs::remove_all(entry.path());
    std::printf("release: making %s with the release tool (a %lld-byte payload)\n", made.image.c_str(),
                static_cast<long long>(PayloadBytes));
    std::fflush(stdout);
    const auto start = Clock::now();
    const int status = QProcess::execute(
        "bash", {ORBITREEL_BENCH_RELEASE_TOOL, "--helpers", QString::fromStdString(helpers.string()), "--app-binary",
                 ORBITREEL_BENCH_DEMO_APP, "--out", QString::fromStdString(out.string()), "--version",
                 QString::fromStdString(Version), "--payload-bytes", QString::number(PayloadBytes)});
    if (status != 0) {
        std::fprintf(stderr, "the release tool failed (%d)\n", status);
        return std::nullopt;
    }
    std::ofstream(marker) << name << '\n';
    std::printf("release: made in %.1f s\n", Seconds(Clock::now() - start).count());
    return made;
}

// Copies the image into the cache and waits until it is on disk, so that its
// write-back does not run into the job.
bool cache(const Path& image, const Path& cached) {
    std::error_code error;
    fs::create_directories(cached.parent_path(), error);
    if (error || !fs::copy_file(image, cached, error)) return false;
    const int fd = ::open(cached.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Stops the launched application: every process whose executable lies
// below `folder`, this run's own.
void stopProgramsBelow(const Path& folder) {
    const std::string prefix = folder.string() + "/";
    for (int attempt = 0; attempt < 150; ++attempt) {
        bool any = false;
        std::error_code error;
        for (auto it = fs::directory_iterator("/proc", error); !error && it != fs::directory_iterator();
             it.increment(error)) {
            const std::string pid = it->path().filename().string();
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            std::error_code unreadable;
            if (!fs::read_symlink(it->path() / "exe", unreadable).string().starts_with(prefix)) continue;
            any = true;
            ::kill(std::stoi(pid), attempt < 100 ? SIGTERM : SIGKILL);
        }
        if (!any) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

struct Tick {
    Clock::time_point due;
    Clock::time_point fired;
    double delayMs() const { return Millis(fired - due).count(); }
};

struct StageFigures {
    double seconds = 0;
    std::optional<Tick> worst;
    long frames = 0;
};

const char* verdict(bool met) { return met ? "MET" : "NOT MET"; }

}  // namespace
}  // namespace orbitreel

int main(int argc, char** argv) {
    using namespace orbitreel;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const fs::path folder = fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::path(ORBITREEL_BENCH_FOLDER));
    const bool madeFolder = fs::create_directories(folder);
    if (auto why = unfitFolder(folder)) {
        std::fprintf(stderr, "%s will not do: %s\n", folder.c_str(), why->c_str());
        if (madeFolder) fs::remove(folder);
        return 2;
    }
    // Others' work on a shared machine shows as delays in any stage.
    double load[3] = {};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    std::printf("machine: %u cores, load average %.2f %.2f %.2f\n", std::thread::hardware_concurrency(), load[0],
                load[1], load[2]);
    const fs::path root = folder / ("run-" + std::to_string(::getpid()));
    const Path home = root / "home";
    const Path bundle = root / "OrbitreelInstaller.app";
    const Path cachedCopy = cachedImage(home, Version);
    fs::create_directories(home / "tmp");

    Timeline timeline;
    // The cached image is already there, so the session is never asked for a task.
    test_support::ScriptedUrlSessions sessions;
    test_support::TestPlatform services;
    services.withHome(home, home / "tmp")
        .withBundle(bundle)
        .withHelpers(ORBITREEL_BENCH_HELPERS_DIR)
        .withSystemApplications(root / "SystemApplications");
    StagedFiles files(services.realFiles(), timeline, cachedCopy);
    StagedProcesses processes(services.realProcesses(), timeline);
    StagedWorkspace workspace(services.realWorkspace(), timeline);
    const Platform platform =
        services.withFiles(files).withProcesses(processes).withWorkspace(workspace).withSession(sessions).build();

    auto removeRun = [&] {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    };
    const auto made = signedRelease(folder, services.realFiles(), *platform.hashing);
    if (!made) {
        removeRun();
        return 2;
    }
    const auto copyStart = Clock::now();
    if (!cache(made->image, cachedCopy)) {
        std::fprintf(stderr, "cannot copy the image into %s\n", cachedCopy.c_str());
        removeRun();
        return 2;
    }
    std::printf("image: %lld bytes, copied into the cache in %.1f s (%s)\n",
                static_cast<long long>(fs::file_size(cachedCopy)), Seconds(Clock::now() - copyStart).count(),
                root.c_str());
    fs::create_directories(bundle / "Contents/Resources");
    fs::copy_file(made->manifest, bundle / "Contents/Resources/release.json");
    // The launched application writes its log below $HOME: this run's home.
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);

    auto installer = std::make_unique<Installer>(platform, Leftovers::recover);
    installer->terminate = [] {};
    installer->applicationWillFinishLaunching();
    installer->applicationDidFinishLaunching();
    PaintTimes paints;
    installer->progressBar()->installEventFilter(&paints);

    // A 16 ms timer: how late does each tick come?
    std::vector<Tick> ticks;
    Clock::time_point lastTick = Clock::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(TimerPeriod);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        ticks.push_back({lastTick + TimerPeriod, now});
        lastTick = now;
    });
    probe.start();

    // The press comes once the window has drawn itself and the launch's
    // second look at it is done, so the figures are the job's alone.
    QTimer::singleShot(1000, [&] {
        timeline.begin(Stage::digest);
        installer->start();  // the cached image goes straight to verification
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!timeline.began(Stage::digest) || installer->isBusy()) return;
        if (timeline.began(Stage::launch)) {
            const auto sinceLaunch = Clock::now() - timeline.beginOf(Stage::launch);
            if (sinceLaunch < AfterLaunch || (!timeline.opened() && sinceLaunch < LongestOpen)) return;
        }
        timeline.end();
        app.quit();
    });
    watch.start(5);
    app.exec();
    probe.stop();
    stopProgramsBelow(root);

    const std::string ending = installer->statusLabel()->text().toStdString();
    const bool installed = installer->isInstalled() && timeline.opened() && !timeline.openError();
    installer.reset();
    services.stopQueues();

    std::printf("tool runs:");
    for (const auto& run : timeline.runs()) {
        std::printf(" %s %.2f s%s;", run.what.c_str(), run.seconds, run.status == 0 ? "" : " (failed)");
    }
    std::printf("\n");
    if (!installed) {
        std::printf("the job did not end installed: %s%s\n", ending.c_str(),
                    timeline.openError() ? (" / " + *timeline.openError()).c_str() : "");
        removeRun();
        return 2;
    }

    std::array<StageFigures, StageCount> stages{};
    for (int i = 0; i < StageCount; ++i) stages[i].seconds = timeline.seconds(Stage(i));
    for (const auto& tick : ticks) {
        if (auto stage = timeline.at(tick.due)) {
            auto& worst = stages[index(*stage)].worst;
            if (!worst || tick.delayMs() > worst->delayMs()) worst = tick;
        }
    }
    for (const auto& time : paints.times)
        if (auto stage = timeline.at(time)) ++stages[index(*stage)].frames;

    // Whether the removal of the cached image, on the main thread after the
    // launch, is what held this tick up, and for how long it ran.
    const auto removal = timeline.removal();
    auto removalHeldUp = [&](const Tick& tick) -> std::optional<double> {
        if (!removal || removal->second < tick.due || removal->first > tick.fired) return std::nullopt;
        return Millis(removal->second - removal->first).count();
    };

    std::printf("%-20s %8s  %-31s %s\n", "stage", "time", "largest timer delay (due at)", "bar");
    bool delaysMet = true;
    bool framesMet = true;
    std::optional<Tick> worstOfAll;
    int worstStage = 0;
    long sweepFrames = 0;
    double sweepSeconds = 0;
    for (int i = 0; i < StageCount; ++i) {
        const auto& figures = stages[i];
        std::printf("%-20s %6.2f s  ", StageNames[i], figures.seconds);
        if (figures.worst) {
            const double delay = figures.worst->delayMs();
            delaysMet = delaysMet && delay <= DelayTargetMs;
            const double dueAt = Seconds(figures.worst->due - timeline.beginOf(Stage(i))).count();
            std::printf("%7.1f ms (+%5.2f s) %-8s ", delay, dueAt, verdict(delay <= DelayTargetMs));
            if (!worstOfAll || delay > worstOfAll->delayMs()) {
                worstOfAll = figures.worst;
                worstStage = i;
            }
        } else {
            std::printf("%7s    %-19s ", "-", "(no tick due)");
        }
        if (Stage(i) == Stage::launch) {
            std::printf("- (stopped)");
        } else {
            sweepFrames += figures.frames;
            sweepSeconds += figures.seconds;
            if (figures.seconds < ShortestRatedSeconds) {
                std::printf("- (too short for a rate)");
            } else {
                const double fps = double(figures.frames) / figures.seconds;
                framesMet = framesMet && fps >= FramesTarget;
                std::printf("%5.1f frames/s %s", fps, verdict(fps >= FramesTarget));
            }
        }
        if (figures.worst) {
            if (auto removalMs = removalHeldUp(*figures.worst)) {
                std::printf("  <- the removal of the cached image on the main thread (%.1f ms)", *removalMs);
            }
        }
        std::printf("\n");
    }
    const double sweepFps = sweepSeconds > 0 ? double(sweepFrames) / sweepSeconds : 0;
    framesMet = framesMet && sweepFps >= FramesTarget;
    if (removal) {
        std::printf("the removal of the cached image took %.1f ms on the main thread\n",
                    Millis(removal->second - removal->first).count());
    }
    std::printf("whole job: %.2f s from the press to the launch; bar %.1f frames/s over the %.2f s it swept\n",
                Seconds(timeline.beginOf(Stage::launch) - timeline.beginOf(Stage::digest)).count(), sweepFps,
                sweepSeconds);
    if (worstOfAll) {
        std::printf("largest delay: %.1f ms, in %s%s\n", worstOfAll->delayMs(), StageNames[worstStage],
                    removalHeldUp(*worstOfAll) ? ", the removal of the cached image" : "");
    }
    std::printf("target: no delay above %.0f ms: %s\n", DelayTargetMs, verdict(delaysMet));
    std::printf("target: at least %.0f frames a second where the bar moves: %s\n", FramesTarget,
                verdict(framesMet));

    removeRun();
    return delaysMet && framesMet ? 0 : 1;
}
