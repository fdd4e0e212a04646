#pragma once
// A test of the whole program: one user's home, the release host, the
// installer on a virtual screen; and what to look at when a check fails.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "stage/scene.h"
#include "stage/waiting.h"

namespace orbitreel::e2e {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

void setSandboxRefusal(const std::string& reason);

// Generous limits: they bound a hang, they do not time anything.
inline constexpr auto Patience = std::chrono::seconds(60);

inline constexpr const char* CutMessage = "Se cortó la descarga. Revisá tu conexión y tocá Reintentar.";
inline constexpr const char* RefusedMessage = "No se pudo descargar. Probá de nuevo en unos minutos.";
inline constexpr const char* VerificationMessage = "La descarga no pasó la verificación. Tocá Reintentar.";
inline constexpr const char* ToolMessage =
    "No se pudo instalar. Reintentá o usá la descarga completa de orbitreel.app/downloads.";

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The scene, made on first use with `options` (work folder and bundle
    // filled in when empty).
    stage::Scene& scene(stage::SceneOptions options = {});
    const stage::HomeView& home() { return scene().home(); }
    fs::path work() const { return work_; }

    // Opens the installer, serves nothing new, presses the button.
    void openAndPress();
    // Waits until the installer shows a new failure or Orbitreel has started.
    bool waitForInstalled(std::chrono::milliseconds timeout = Patience);
    bool waitForError(size_t errorsBefore, std::chrono::milliseconds timeout = Patience);
    // The application in home "Applications" passes the signature check and
    // carries the release's version.
    ::testing::AssertionResult installedIntact();
    // The log, the installer's output and a saved picture, for a failure.
    std::string diagnosis();

private:
    fs::path work_;
    std::unique_ptr<stage::Scene> scene_;
};

// True when `text` (an error entry) starts with `message`.
bool startsWith(const std::string& text, const std::string& message);

}  // namespace orbitreel::e2e
