#pragma once
// The one controller of the interactive installer. It holds every piece of
// state: the window and its live controls, the validated release, the URL
// session and its current task, and the flags `busy` and `installed`.
//
// One class split over controller/ by concern: installer.cpp (construction),
// launch.cpp, window.cpp (the window, reopen, activation, close guard),
// start.cpp, session_calls.cpp, verify_and_install.cpp, finish_install.cpp,
// fail.cpp and quit.cpp (a quit request from the system).

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
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
    // Application delegate: asked before the application ends for a quit
    // request. While a download runs the answer is `later`: the transfer is
    // cancelled so that it leaves resume data, the data is kept, and then,
    // or after QuitWait at the latest, `replyToApplicationShouldTerminate`
    // is called once. Otherwise the answer is `now`.
    enum class TerminateReply { now, later };
    TerminateReply applicationShouldTerminate();
    static constexpr std::chrono::milliseconds QuitWait{2000};

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
    // How a `later` answer ends the application; tests replace it. By
    // default it ends the running application as `terminate` does.
    std::function<void()> replyToApplicationShouldTerminate;
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
    // Writes the resume data to the cache, or removes the kept file when there
    // is none; on any thread, touching only the fixed fields.
    void keepResumeData(const std::optional<Bytes>& resumeData) const;
    // The one reply to a quit request answered `later`.
    void replyToQuit();

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
    // Busy with a download task, not with a verification or an install.
    bool downloading = false;
    // A quit request is waiting for the resume data; `quitReplied` once it ended.
    bool quitting = false;
    bool quitReplied = false;
    Files& fm;
};

}  // namespace orbitreel
