// A home on a small file system that fills up during the download: the
// user gets a clear message, nothing is damaged, and once space is freed the
// retry installs.

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <fstream>
#include <iostream>

#include "stage/bundle_check.h"
#include "stage/release_builder.h"
#include "stage/waiting.h"
#include "tools/fault_campaign/campaign.h"

namespace orbitreel::campaign {

namespace {

std::uint64_t freeBytes(const fs::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

// Writes zeros until `keep` bytes stay free.
void fillUpTo(const fs::path& file, std::uint64_t keep) {
    std::ofstream out(file, std::ios::binary);
    std::vector<char> block(64 * 1024, 0);
    while (freeBytes(file.parent_path()) > keep + block.size()) {
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        out.flush();
    }
}

}  // namespace

int runFullDiskCampaign(const Settings& settings) {
    heading("full disk: a home on a small tmpfs that fills during the download");
    const fs::path work = settings.work / "full-disk";
    const fs::path home = work / "home";
    fs::create_directories(home);
    // An image larger than what the loopback's socket buffers hold, so the
    // release host sees when the installer stops reading. Room for it six
    // times over (download, mounted image, staged copy, installed
    // application) before the filler.
    auto manifest = stage::makeRelease({work / "release", "1.4.2", 16'000'000, {}});
    stage::SceneOptions options;
    options.work = work / "stage";
    options.installerBundle = stage::installerCarrying(manifest, work / "installer");
    options.releaseImage = work / "release/Orbitreel-Mac-1.4.2.dmg";
    options.home = home;
    const auto size = static_cast<std::uint64_t>(stage::readRelease(manifest).bytes);
    const std::string mountOptions = "size=" + std::to_string(size * 6) + ",mode=0755";
    if (::mount("tmpfs", home.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, mountOptions.c_str()) != 0) {
        std::cout << "  cannot mount a tmpfs on " << home << std::endl;
        return 1;
    }
    int status = 0;
    {
        stage::Scene scene(options);
        scene.serveRelease(scene.releaseImage());
        scene.openInstaller();
        // Half the image fits.
        const fs::path filler = home / "filler.bin";
        fillUpTo(filler, size / 2);
        figure("image size (bytes)", std::to_string(size));
        figure("free in the home before pressing (bytes)", std::to_string(freeBytes(home)));

        const size_t errorsBefore = scene.home().errorEntries().size();
        scene.pressButton();
        // The log lives on the same full file system: watch the transfer end
        // too, not only the log.
        auto lastSent = scene.host().bodyBytesSent();
        auto lastChange = std::chrono::steady_clock::now();
        stage::waitUntil(
            [&] {
                if (scene.home().errorEntries().size() > errorsBefore) return true;
                const auto sent = scene.host().bodyBytesSent();
                if (sent != lastSent) {
                    lastSent = sent;
                    lastChange = std::chrono::steady_clock::now();
                }
                return sent > 0 && std::chrono::steady_clock::now() - lastChange > 3s;
            },
            60s, 50ms);
        const QImage failed = scene.settledPicture(3s);
        failed.save(QString::fromStdString((settings.output / "full-disk-failure.png").string()));
        auto errors = scene.home().errorEntries();
        figure("failure shown in the log", errors.size() > errorsBefore ? shortError(errors.back()) : "(none logged)");
        figure("picture of the window after the failure", (settings.output / "full-disk-failure.png").string());
        figure("bytes the release host sent", std::to_string(scene.host().bodyBytesSent()));
        figure("application.dmg in the cache", fs::exists(scene.home().cachedImage()) ? "yes" : "no");
        figure("resume.data in the cache", fs::exists(scene.home().resumeData())
                                               ? std::to_string(fs::file_size(scene.home().resumeData())) + " bytes"
                                               : "no");
        figure("Orbitreel.app in Applications", fs::exists(scene.home().installedApp()) ? "yes" : "no");
        figure("installer still running", scene.installerRunning() ? "yes" : "no");
        if (errors.size() <= errorsBefore) status = 1;
        // Every line of the log is whole: a time stamp and a text.
        const auto logText = stage::readWholeFile(scene.home().installerLog());
        size_t lines = 0, stamped = 0;
        for (size_t at = 0; at < logText.size();) {
            size_t end = logText.find('\n', at);
            if (end == std::string::npos) end = logText.size();
            ++lines;
            if (logText.compare(at, 2, "20") == 0 && end - at > 21 && logText[at + 19] == 'Z') ++stamped;
            at = end + 1;
        }
        figure("log lines / lines starting with a time stamp", std::to_string(lines) + " / " + std::to_string(stamped));
        figure("log ends with a line feed", !logText.empty() && logText.back() == '\n' ? "yes" : "no");

        // Space freed: "Reintentar".
        fs::remove(filler);
        const auto sentBefore = scene.host().bodyBytesSent();
        auto drive = pressUntilInstalled(scene, 3);
        const std::string problem = stage::bundleProblem(scene.home().installedApp(), scene.release().version);
        figure("after freeing space: installed and whole",
               drive.installed && problem.empty() ? "yes" : "no " + problem);
        figure("presses after freeing space", std::to_string(drive.presses));
        for (auto& error : drive.errors) figure("  failure on the way", shortError(error));
        figure("bytes sent for the retry", std::to_string(scene.host().bodyBytesSent() - sentBefore));
        auto requests = scene.host().requests();
        if (!requests.empty())
            figure("the retry's request", "status " + std::to_string(requests.back().status) +
                                              (requests.back().range.empty() ? "" : ", " + requests.back().range));
        if (!drive.installed || !problem.empty()) status = 1;
        endRun(scene);
    }
    ::umount2(home.c_str(), MNT_DETACH);
    return status;
}

}  // namespace orbitreel::campaign
