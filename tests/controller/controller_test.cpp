// The controller's road through its states, with real files in a temporary
// home and a scripted URL session.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "controller/installer.h"
#include "core/texts.h"
#include "install/install.h"
#include "tests/support/event_loop.h"
#include "tests/support/installer_world.h"
#include "tests/support/text_files.h"
#include "ui/bar.h"
#include "ui/primary_button.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;
using test_support::eventually;
using test_support::InstallerWorld;
using Launched = test_support::InstallerRun;
using test_support::readText;
using test_support::writeText;

const std::string ReadyText = "Procesá y guardá tus videos en tu Mac.";
const std::string VerificationText = "La descarga no pasó la verificación. Tocá Reintentar.";

std::string text(QLabel* label) { return label->text().toStdString(); }
std::string text(QPushButton* button) { return button->text().toStdString(); }

class ControllerTest : public ::testing::Test {
protected:
    Installer& controller() { return *run.installer; }
    QLabel* status() { return controller().statusLabel(); }
    PrimaryButton* button() { return controller().actionButton(); }

    // Counted, not looked up: a copy of Orbitreel that another test runs
    // meanwhile must not stop this one's presses.
    InstallerWorld world;
    Launched run{world};
};

TEST_F(ControllerTest, AMissingOrInvalidManifestLeavesTheInstallerUnavailable) {
    for (const auto& [manifest, message] : std::vector<std::pair<std::string, std::string>>{
             {"", std::string(texts::MissingManifest)},
             {"{\"version\": \"1.4.2\", \"url\": \"https://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg\", "
              "\"sha256\": \"" +
                  std::string(64, 'a') + "\", \"bytes\": 0}",
              std::string(texts::InvalidManifest)}}) {
        SCOPED_TRACE(message);
        InstallerWorld world;
        if (!manifest.empty()) world.writeManifest(manifest);
        Launched run(world);
        run.launch();
        auto& installer = *run.installer;

        EXPECT_EQ(text(installer.statusLabel()), message);
        EXPECT_EQ(text(installer.detailsLabel()), "");
        EXPECT_EQ(text(installer.actionButton()), "Reintentar");
        EXPECT_FALSE(installer.actionButton()->isEnabled());
        EXPECT_FALSE(installer.hasSession());
        EXPECT_EQ(world.sessions.made, 0);

        const auto lines = world.logLines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "launch " + world.bundle.string());
        EXPECT_EQ(lines[1], "layout placed");
        EXPECT_EQ(lines[2].rfind("window visible=true", 0), 0u) << lines[2];
        EXPECT_EQ(lines[3], "error " + message);

        installer.start();  // a press that still arrives changes nothing
        EXPECT_EQ(text(installer.statusLabel()), message);
        EXPECT_TRUE(installer.windowWidget()->close());
        EXPECT_EQ(run.terminations, 1);
        EXPECT_TRUE(run.alerts.empty());
    }
}

TEST_F(ControllerTest, AFileWhereTheVersionFolderMustGoFailsTheLaunch) {
    world.writeManifest(48213405, std::string(64, 'a'));
    writeText(world.versionFolder(), "in the way");
    run.launch();

    EXPECT_FALSE(text(status()).empty());
    EXPECT_NE(text(status()), ReadyText);
    EXPECT_EQ(world.logLines().back(), "error " + text(status()));
    EXPECT_FALSE(button()->isEnabled());
    EXPECT_TRUE(controller().currentRelease().has_value());
    EXPECT_FALSE(controller().hasSession());
    EXPECT_EQ(text(controller().detailsLabel()), "");
}

TEST_F(ControllerTest, ReadyShowsTheVersionAndSizeAndMakesTheSession) {
    world.writeManifest(48213405, std::string(64, 'a'));
    run.launch();

    EXPECT_EQ(text(status()), ReadyText);
    EXPECT_EQ(text(controller().detailsLabel()), "Versión 1.4.2 · 48 MB");
    EXPECT_EQ(text(button()), "Descargar e instalar");
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_TRUE(fs::is_directory(world.versionFolder()));
    ASSERT_EQ(world.sessions.made, 1);
    EXPECT_EQ(world.sessions.configuration.timeoutIntervalForRequest, 60);
    EXPECT_EQ(world.sessions.configuration.timeoutIntervalForResource, 7200);
    EXPECT_EQ(world.sessions.delegate, static_cast<SessionDelegate*>(&controller()));
    EXPECT_TRUE(world.sessions.session->tasks.empty());  // nothing starts by itself
}

TEST_F(ControllerTest, ClosingWhileBusyShowsTheAlertAndOtherwiseQuits) {
    world.writeManifest(48213405, std::string(64, 'a'));
    run.launch();
    controller().start();
    ASSERT_TRUE(controller().isBusy());

    EXPECT_FALSE(controller().windowWidget()->close());
    EXPECT_TRUE(controller().windowWidget()->isVisible());
    ASSERT_EQ(run.alerts.size(), 1u);
    EXPECT_EQ(run.alerts[0], "Instalación en curso/Esperá a que termine para cerrar.");
    EXPECT_EQ(run.terminations, 0);

    controller().fail(InstallError{"Se cortó."});
    EXPECT_TRUE(controller().windowWidget()->close());
    EXPECT_EQ(run.terminations, 1);
    EXPECT_EQ(run.alerts.size(), 1u);
}

TEST_F(ControllerTest, TwoQuickPressesStartOneTaskFromTheManifestUrl) {
    world.writeManifest(48213405, std::string(64, 'a'));
    run.launch();
    controller().start();
    controller().start();

    auto& tasks = world.sessions.session->tasks;
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0]->resumed, 1);
    EXPECT_EQ(tasks[0]->url, "https://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg");
    EXPECT_EQ(controller().currentTask(), tasks[0]);
    EXPECT_EQ(text(status()), "Descargando…");
    EXPECT_FALSE(button()->isEnabled());
}

TEST_F(ControllerTest, AReadableResumeFileResumesAndAFolderOfThatNameStartsAfresh) {
    world.writeManifest(48213405, std::string(64, 'a'));
    run.launch();
    writeText(world.versionFolder() / "resume.data", "opaque");
    controller().start();
    auto& tasks = world.sessions.session->tasks;
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0]->resumeData, Bytes({'o', 'p', 'a', 'q', 'u', 'e'}));
    EXPECT_FALSE(tasks[0]->url.has_value());
    EXPECT_TRUE(fs::exists(world.versionFolder() / "resume.data"));  // kept until the image is in place

    controller().fail(InstallError{"Se cortó."});
    fs::remove(world.versionFolder() / "resume.data");
    fs::create_directories(world.versionFolder() / "resume.data");
    controller().start();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[1]->url, "https://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg");
    EXPECT_EQ(controller().currentTask(), tasks[1]);
}

TEST_F(ControllerTest, APressWhileTheDemoAppRunsAsksToQuitIt) {
    world.writeManifest(48213405, std::string(64, 'a'));
    run.launch();

    world.runningApplications.running = 1;
    controller().start();
    EXPECT_EQ(text(status()),
              "Cuando terminen sus trabajos, cerrá Orbitreel desde la barra de menú y volvé a intentar.");
    EXPECT_EQ(text(button()), "Volver a intentar");
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_FALSE(controller().isBusy());
    EXPECT_TRUE(world.sessions.session->tasks.empty());
    EXPECT_TRUE(fs::is_empty(world.versionFolder()));

    world.runningApplications.running = 0;
    controller().start();
    EXPECT_TRUE(controller().isBusy());
    EXPECT_EQ(world.sessions.session->tasks.size(), 1u);
}

TEST_F(ControllerTest, FailKeepsTheBarsValueAndOffersARetry) {
    world.writeManifest(48213405, std::string(64, 'a'));
    run.launch();
    controller().start();
    auto* bar = controller().progressBar();
    bar->setDoubleValue(40);
    controller().detailsLabel()->setText(QStringLiteral("40 %"));
    bar->setIndeterminate(true);
    bar->startAnimation();

    controller().fail(InstallError{"Primera."});
    controller().fail(PlatformError{"posix", 2, "Segunda."});
    EXPECT_EQ(bar->doubleValue(), 40);
    EXPECT_FALSE(bar->isIndeterminate());
    EXPECT_FALSE(bar->isAnimating());
    EXPECT_EQ(text(status()), "Segunda.");
    EXPECT_EQ(text(controller().detailsLabel()), "40 %");
    EXPECT_EQ(text(button()), "Reintentar");
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_FALSE(controller().isBusy());
    const auto lines = world.logLines();
    EXPECT_EQ(lines[lines.size() - 2], "error Primera.");
    EXPECT_EQ(lines.back(), "error Segunda.");
}

// A cached image is checked before anything else; one that fails a check is
// removed, and one that passes but cannot be installed is kept.
TEST_F(ControllerTest, ACachedImageIsVerifiedWithoutTheNetwork) {
    const std::string content(100000, 'o');
    world.writeManifestFor(content);
    run.launch();
    struct Case {
        const char* name;
        std::string stored;
        bool kept;
    };
    std::string changed = content;
    changed[5000] = 'p';
    for (const auto& [name, stored, kept] :
         {Case{"one byte short", content.substr(1), false}, Case{"one byte changed", changed, false},
          Case{"right, but not an image", content, true}}) {
        SCOPED_TRACE(name);
        writeText(world.image(), stored);
        controller().start();
        EXPECT_EQ(text(status()), "Verificando e instalando…");
        EXPECT_TRUE(controller().progressBar()->isIndeterminate());
        EXPECT_TRUE(controller().progressBar()->isAnimating());
        ASSERT_TRUE(eventually([&] { return !controller().isBusy(); }));

        EXPECT_EQ(fs::exists(world.image()), kept);
        if (kept) EXPECT_NE(text(status()), VerificationText);
        else EXPECT_EQ(text(status()), VerificationText);
        EXPECT_EQ(text(button()), "Reintentar");
        EXPECT_FALSE(controller().progressBar()->isAnimating());
    }
    EXPECT_TRUE(world.sessions.session->tasks.empty());
    EXPECT_FALSE(controller().isInstalled());
}

TEST_F(ControllerTest, AFinishedInstallShowsWhereAndLaunchesAndTheButtonQuits) {
    world.writeManifest(48213405, std::string(64, 'a'));
    run.launch();
    writeText(world.image(), "image");
    world.workspace.failure = PlatformError{"posix", 13, "No se pudo abrir."};
    controller().finishInstall({world.home / "Applications/Orbitreel.app", {}});

    EXPECT_TRUE(controller().isInstalled());
    EXPECT_FALSE(controller().isBusy());
    EXPECT_EQ(controller().progressBar()->doubleValue(), 100);
    EXPECT_FALSE(controller().progressBar()->isIndeterminate());
    EXPECT_EQ(text(controller().detailsLabel()), "~/Applications/Orbitreel.app");
    EXPECT_EQ(text(button()), "Listo");
    EXPECT_TRUE(button()->isEnabled());
    // Removed in the background.
    EXPECT_TRUE(eventually([&] { return !fs::exists(world.image()); }));
    ASSERT_EQ(world.workspace.opened.size(), 1u);
    EXPECT_EQ(world.workspace.opened[0], world.home / "Applications/Orbitreel.app");
    ASSERT_TRUE(eventually([&] { return text(status()) != "Listo. Orbitreel queda en la barra de menú."; }));
    EXPECT_EQ(text(status()), "Instalado. Abrí Orbitreel desde Aplicaciones. No se pudo abrir.");

    world.workspace.failure.reset();
    controller().finishInstall({"/Applications/Orbitreel.app", {}});
    EXPECT_EQ(text(controller().detailsLabel()), "/Applications/Orbitreel.app");
    EXPECT_EQ(text(status()), "Listo. Orbitreel queda en la barra de menú.");

    button()->click();
    EXPECT_EQ(run.terminations, 1);
    EXPECT_EQ(world.workspace.opened.size(), 2u);
}

// A debug build stops at once, naming the method, when a call comes on the
// wrong thread: a session call on the main thread, a main-thread call from
// a thread the platform never marked.
TEST_F(ControllerTest, ACallOnTheWrongThreadStopsADebugBuild) {
#ifdef NDEBUG
    GTEST_SKIP() << "the thread checks are compiled into debug builds only";
#else
    // Forking a process that runs threads is unsafe; the child starts afresh.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test_support::ScriptedTask task;
    EXPECT_DEATH(controller().didWriteData(task, 1, 1, -1),
                 "Installer::didWriteData.* must run on the URL session's queue, but .* is the main thread");
    EXPECT_DEATH(std::thread([&] { controller().start(); }).join(),
                 "Installer::start.* must run on the main thread, but .* is an unmarked thread");
#endif
}

}  // namespace
}  // namespace orbitreel
