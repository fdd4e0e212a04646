#pragma once
// One person at one machine: a home folder, a screen, the release host, and
// the unmodified installer started from its bundle, looked at and pressed
// the way a user would. Lives inside the sandbox (see sandbox.h).

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stage/child_process.h"
#include "stage/home_view.h"
#include "stage/release_site.h"
#include "stage/x_display.h"

namespace orbitreel::stage {

inline constexpr const char* WindowTitle = "Instalar Orbitreel";

struct SceneOptions {
    std::filesystem::path work;             // certificates, program output; created
    std::filesystem::path installerBundle;  // OrbitreelInstaller.app
    std::filesystem::path home;             // empty: work/home, fresh
    std::string display;                    // empty: a virtual screen of our own
    std::filesystem::path releaseImage;     // the image the manifest describes; empty: the build's
    std::optional<UserIdentity> user;       // who runs the installer and owns the home; root otherwise
    std::vector<std::string> environment;   // "NAME=value" added to the user's environment
};

class Scene {
public:
    explicit Scene(const SceneOptions& options);
    ~Scene();  // stops the installer and every Orbitreel it started
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    release_host::Server& host() { return site_->host(); }
    // Another user's home from now on (the installer must not be running).
    void useHome(const std::filesystem::path& home);
    const ReleaseInfo& release() const { return release_; }
    const HomeView& home() const { return view_; }
    XConnection& screen() { return *x_; }
    const std::string& displayName() const { return display_; }
    const std::filesystem::path& installerBundle() const { return bundle_; }
    const std::optional<UserIdentity>& user() const { return user_; }

    // Serves `entity` at the address the installer's manifest names.
    void serveRelease(release_host::Entity entity);
    // The image the installer's manifest describes, as it is on disk.
    release_host::Entity releaseImage() const { return fileEntity(image_); }
    const std::filesystem::path& releaseImagePath() const { return image_; }

    // Starts the installer (a running one is an error) with `arguments` and
    // waits for its window to be drawn; throws with what went wrong when it
    // does not come.
    void openInstaller(std::chrono::milliseconds timeout = std::chrono::seconds(20),
                       const std::vector<std::string>& arguments = {});
    ChildProcess& installer() { return installer_; }
    bool installerRunning() { return installer_.started() && !installer_.exited(); }
    // Waits for the installer to end; its exit status, or none.
    std::optional<int> waitForInstallerExit(std::chrono::milliseconds timeout);

    std::optional<TopWindow> window();
    // A visible window other than the installer's main one (the alert).
    std::optional<TopWindow> otherWindow();
    // Return in the installer's window, which presses its button.
    void pressButton();
    // Return in the alert.
    void dismissAlert();
    void closeWindow();

    // What the screen shows of the installer's windows.
    QImage picture();
    // The same, once two looks a moment apart agree (the window has drawn
    // what it was told to); the last look after `timeout` otherwise.
    QImage settledPicture(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The output the installer wrote, for failure messages.
    std::string installerOutput() const;

private:
    std::filesystem::path work_;
    std::filesystem::path bundle_;
    std::optional<UserIdentity> user_;
    std::vector<std::string> environment_;
    ReleaseInfo release_;
    std::filesystem::path image_;
    HomeView view_;
    std::unique_ptr<ReleaseSite> site_;
    std::unique_ptr<VirtualScreen> virtualScreen_;
    std::string display_;
    std::unique_ptr<XConnection> x_;
    ChildProcess installer_;
    int runs_ = 0;
};

// The environment the installer runs with: a login's worth, with `home` and
// a runtime folder in it.
std::vector<std::string> userEnvironment(const std::filesystem::path& home, const std::string& display);

// Hands `top` and everything below it to `user`, links included.
void handOver(const std::filesystem::path& top, const UserIdentity& user);

}  // namespace orbitreel::stage
