#include "tests/e2e/e2e_fixture.h"

#include <sstream>

#include "stage/bundle_check.h"

namespace orbitreel::e2e {

namespace {

std::string& refusal() {
    static std::string reason;
    return reason;
}

std::string testName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace

void setSandboxRefusal(const std::string& reason) { refusal() = reason; }

bool startsWith(const std::string& text, const std::string& message) { return text.rfind(message, 0) == 0; }

void EndToEnd::SetUp() {
    if (!refusal().empty())
        GTEST_SKIP() << "the installer runs in network, mount and PID namespaces of its own, which needs root or "
                        "unprivileged user namespaces: "
                     << refusal();
    if (stage::findProgram("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    // /tmp is the sandbox's own tmpfs.
    work_ = fs::path("/tmp") / testName();
    fs::remove_all(work_);
    fs::create_directories(work_);
}

void EndToEnd::TearDown() {
    if (HasFailure() && scene_) std::cerr << diagnosis();
    scene_.reset();
}

stage::Scene& EndToEnd::scene(stage::SceneOptions options) {
    if (!scene_) {
        if (options.work.empty()) options.work = work_;
        if (options.installerBundle.empty()) options.installerBundle = ORBITREEL_STAGE_BUNDLE;
        scene_ = std::make_unique<stage::Scene>(options);
    }
    return *scene_;
}

void EndToEnd::openAndPress() {
    scene().openInstaller();
    scene().pressButton();
}

bool EndToEnd::waitForError(size_t errorsBefore, std::chrono::milliseconds timeout) {
    return stage::waitUntil([&] { return home().errorEntries().size() > errorsBefore; }, timeout);
}

bool EndToEnd::waitForInstalled(std::chrono::milliseconds timeout) {
    const size_t errorsBefore = home().errorEntries().size();
    stage::waitUntil(
        [&] {
            return home().applicationStarts() > 0 || home().errorEntries().size() > errorsBefore ||
                   !scene().installerRunning();
        },
        timeout);
    return home().applicationStarts() > 0 && home().errorEntries().size() == errorsBefore;
}

::testing::AssertionResult EndToEnd::installedIntact() {
    const std::string problem = stage::bundleProblem(home().installedApp(), scene().release().version);
    if (!problem.empty()) return ::testing::AssertionFailure() << problem;
    return ::testing::AssertionSuccess();
}

std::string EndToEnd::diagnosis() {
    std::ostringstream out;
    out << "---- installer log\n";
    for (auto& entry : scene().home().logEntries()) out << "  " << entry << "\n";
    out << "---- installer output\n" << scene().installerOutput();
    out << "---- release host requests\n";
    for (auto& request : scene().host().requests())
        out << "  " << request.path << " range=" << request.range << " status=" << request.status
            << " sent=" << request.bodyBytesSent << "\n";
    out << "---- the home folder\n";
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(scene().home().home(), error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it.depth() > 4) it.disable_recursion_pending();
        out << "  " << fs::relative(it->path(), scene().home().home()).string() << "\n";
    }
    QImage picture = scene().picture();
    if (!picture.isNull()) {
        fs::create_directories(E2E_PICTURES_DIR);
        const fs::path file = fs::path(E2E_PICTURES_DIR) / (testName() + ".png");
        if (picture.save(QString::fromStdString(file.string()))) out << "---- the screen: " << file << "\n";
    }
    return out.str();
}

}  // namespace orbitreel::e2e
