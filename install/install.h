#pragma once
// The install transaction: from a verified image in the cache to the installed
// application, with backup, rollback and clean-up.

#include "core/error.h"
#include "core/release.h"
#include "platform/files.h"

namespace orbitreel {

struct Platform;

inline constexpr const char* TargetBundleId = "app.orbitreel.Orbitreel";

inline constexpr const char* VersionMismatchMessage = "La versión descargada no coincide con este instalador.";
inline constexpr const char* AppRunningMessage =
    "Cerrá Orbitreel desde la barra de menú y tocá Reintentar; la descarga se conserva.";
inline constexpr const char* NeedsAdminMessage =
    "Orbitreel está en /Applications y necesita permisos de administrador. Usá la descarga completa y "
    "reemplazala desde Finder.";

// Returns the location of the installed application.
Result<Path> install(const Platform& platform, const Release& release);

}  // namespace orbitreel
