#pragma once
// The one controller of the interactive installer. It holds every piece of
// state: the window and its live controls, the validated release, the URL
// session and its current task, and the flags `busy` and `installed`.
//
// One class split over controller/ by concern: installer.cpp (construction),
// launch.cpp, window.cpp (the window, reopen, activation, close guard),
// start.cpp, session_calls.cpp, verify_and_install.cpp, finish_install.cpp and
// fail.cpp.

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "base/error.h"
#include "core/release.h"
#include "install/install.h"
#include "platform/platform.h"

namespace orbitreel {

class Bar;
class PrimaryButton;
class InstallerWindow;
class LineLimitedLabel;

class Installer : public QObject, public SessionDelegate {
    Q_OBJECT
public:
    // `leftovers` says whether installs may put right what killed runs left:
    // only while this is the person's one installer.
    Installer(const Platform& platform, Leftovers leftovers, QObject* parent = nullptr);
    ~Installer() override;
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    // Application delegate.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    bool applicationShouldHandleReopen();
    void applicationDidBecomeActive();
    // Window delegate: the close guard. True when the window may close.
    bool windowShouldClose();

    // The primary button's action.
    void start();

    // URL session delegate (session_calls.cpp).
    void willPerformRedirection(DownloadTask& task, const UrlRequest& newRequest,
                                const std::function<void(std::optional<UrlRequest>)>& completion) override;
    void didWriteData(DownloadTask& task, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                      std::int64_t totalBytesExpected) override;
    void didFinishDownloading(DownloadTask& task, const Path& location) override;
    void didComplete(DownloadTask& task, const std::optional<TransferError>& error) override;

    // The single road by which a failure reaches the user after launch.
    void fail(const Error& error);
    void showWindow();
    void verifyAndInstall();
    void finishInstall(const InstalledApplication& application);

    // How the application terminates; tests replace it. By default it asks
    // the running application to quit.
    std::function<void()> terminate;
    // Runs the close guard's alert modally; tests replace it so nothing blocks.
    std::function<void(const QString& message, const QString& informative)> runAlert;

    // Read access for tests and pictures.
    QWidget* windowWidget() const;
    QLabel* statusLabel() const;
    QLabel* detailsLabel() const;
    Bar* progressBar() const { return bar; }
    PrimaryButton* actionButton() const { return action; }
    bool isBusy() const { return busy; }
    bool isInstalled() const { return installed; }
    const std::optional<Release>& currentRelease() const { return release; }
    bool hasSession() const { return session != nullptr; }
    const std::shared_ptr<DownloadTask>& currentTask() const { return task; }

private:
    void buildWindow();
    void delayedLaunchCheck();
    // Shows a launch failure and leaves the button disabled for the run.
    void failLaunch(const Error& error);

    const Platform& platform_;
    const Leftovers leftovers_;

    // Fields, in declaration order.
    InstallerWindow* window = nullptr;
    LineLimitedLabel* status = nullptr;
    LineLimitedLabel* details = nullptr;
    Bar* bar = nullptr;
    PrimaryButton* action = nullptr;
    std::optional<Release> release;
    std::unique_ptr<UrlSession> session;
    std::shared_ptr<DownloadTask> task;
    bool busy = false;
    bool installed = false;
    Files& fm;
};

}  // namespace orbitreel
