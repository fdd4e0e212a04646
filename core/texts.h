#pragma once
// Every text the installer shows, in one place: the window, the failures the
// program detects itself, and the Linux layer's descriptions of system and
// transfer errors. Texts with parts that change are small functions.

#include <cstdint>
#include <string>
#include <string_view>

namespace orbitreel::texts {

// The window.
inline constexpr std::string_view WindowTitle = "Instalar Orbitreel";
inline constexpr std::string_view Caption = "macOS 14 o posterior";
inline constexpr std::string_view Title = "Orbitreel en tu Mac";
inline constexpr std::string_view ProgressName = "Progreso de la instalación";
inline constexpr std::string_view Ready = "Procesá y guardá tus videos en tu Mac.";
inline constexpr std::string_view DownloadAndInstall = "Descargar e instalar";
inline constexpr std::string_view Downloading = "Descargando…";
inline constexpr std::string_view VerifyingAndInstalling = "Verificando e instalando…";
inline constexpr std::string_view Installed = "Listo. Orbitreel queda en la barra de menú.";
inline constexpr std::string_view Done = "Listo";
inline constexpr std::string_view Retry = "Reintentar";
inline constexpr std::string_view StillRunning =
    "Cuando terminen sus trabajos, cerrá Orbitreel desde la barra de menú y volvé a intentar.";
inline constexpr std::string_view TryAgain = "Volver a intentar";
// The close guard's alert.
inline constexpr std::string_view Installing = "Instalación en curso";
inline constexpr std::string_view WaitToClose = "Esperá a que termine para cerrar.";

// "Versión 1.4.2 · 48 MB"
std::string releaseDetails(std::string_view version, std::int64_t bytes);
// "35% · 12 de 34 MB"
std::string progressDetails(std::int64_t percent, std::int64_t writtenBytes, std::int64_t totalBytes);
// The installed application did not open: the reason follows the hint.
std::string notOpened(std::string_view reason);

// Failures the program detects itself.
inline constexpr std::string_view MissingManifest =
    "Falta la información de esta versión. Descargá otra vez el instalador.";
inline constexpr std::string_view InvalidManifest = "La información del instalador no es válida.";
inline constexpr std::string_view DownloadRefused = "No se pudo descargar. Probá de nuevo en unos minutos.";
inline constexpr std::string_view VerificationFailed = "La descarga no pasó la verificación. Tocá Reintentar.";
inline constexpr std::string_view VersionMismatch = "La versión descargada no coincide con este instalador.";
inline constexpr std::string_view AppRunning =
    "Cerrá Orbitreel desde la barra de menú y tocá Reintentar; la descarga se conserva.";
inline constexpr std::string_view NeedsAdmin =
    "Orbitreel está en /Applications y necesita permisos de administrador. Usá la descarga completa y "
    "reemplazala desde Finder.";
// A system tool ran but failed; its status and name mean nothing to the person.
std::string toolFailed();
// The transfer broke off: the advice, then the reason on a line of its own.
std::string downloadCut(std::string_view reason);

// The manifest could not be read: "La información de esta versión no se puede leer: " and one of the details.
std::string unreadableRelease(std::string_view detail);
std::string notJson(std::string_view parserMessage);
inline constexpr std::string_view NotJsonObject = "no es un objeto JSON.";
std::string missingField(std::string_view key);
std::string fieldNotText(std::string_view key);
std::string fieldTooLarge(std::string_view key);
std::string fieldNotInteger(std::string_view key);

// Why the system refused, as far as the person can act on it. The Linux layer
// reads its error numbers into these; `other` gets a generic text with the number.
enum class SystemCause {
    missing,
    noPermission,
    noSpace,
    exists,
    readOnly,
    notFolder,
    isFolder,
    diskError,
    nameTooLong,
    notProgram,
    linkLoop,
    argumentsTooLong,
    noMemory,
    tooManyProcesses,
    programBusy,
    processGone,
    noNetwork,
    other,
};

// A step on a file or folder failed: "No existe el archivo o la carpeta (/tmp/x)."; no path, no parentheses.
std::string fileFailure(SystemCause cause, int code, std::string_view path);
// The partial download could not be written or kept.
std::string downloadFileFailure(SystemCause cause, int code);
// Starting or waiting for a program failed; the cause follows "…: ".
std::string toolNotStarted(std::string_view tool, SystemCause cause, int code);
std::string toolNotAwaited(std::string_view tool, SystemCause cause, int code);
// The installed application could not be opened.
std::string appNotOpened(std::string_view bundle, SystemCause cause, int code);
std::string appNotOpened(std::string_view bundle, std::string_view reason);
inline constexpr std::string_view NotAnApplication = "no es una aplicación.";
inline constexpr std::string_view NoExecutable = "la aplicación no indica su ejecutable.";
inline constexpr std::string_view ExecutableNotAFile = "su ejecutable no es un archivo común.";
inline constexpr std::string_view NoProcess = "no se pudo crear el proceso.";
std::string notTrashed(std::string_view path);
// A folder held for a later step, or the installed copy, is no longer the one
// at its name.
std::string folderReplaced(std::string_view path);

// The transfer.
inline constexpr std::string_view NoNetwork = "No hay conexión a internet.";
inline constexpr std::string_view HostNotFound = "No se encontró el servidor de descargas.";
inline constexpr std::string_view Refused = "El servidor rechazó la conexión.";
inline constexpr std::string_view ConnectionLost = "Se perdió la conexión con el servidor.";
inline constexpr std::string_view TimedOut = "Se agotó el tiempo de espera de la conexión.";
inline constexpr std::string_view InsecureConnection = "No se pudo establecer una conexión segura con el servidor.";
inline constexpr std::string_view HttpsOnly = "Solo se descargan archivos por una conexión segura (HTTPS).";
inline constexpr std::string_view UnusableResumeData =
    "Los datos para continuar la descarga no sirven; la próxima vez empieza de nuevo.";
inline constexpr std::string_view MissingPartialDownload =
    "Ya no está la parte descargada; la próxima vez la descarga empieza de nuevo.";
std::string cannotContinue(int statusCode);
inline constexpr std::string_view InvalidResponse = "El servidor mandó una respuesta que no tiene sentido.";
inline constexpr std::string_view TooMuchData = "El servidor mandó mucho más de lo que pesa la descarga.";
inline constexpr std::string_view TooManyRedirects = "El servidor redirigió la descarga demasiadas veces.";
// The proxy that the environment names is the cause.
inline constexpr std::string_view ProxyCredentialsRefused =
    "El proxy rechazó el usuario o la contraseña. Revisá la configuración del proxy.";
inline constexpr std::string_view ProxyNotFound = "No se encontró el proxy. Revisá la configuración del proxy.";
inline constexpr std::string_view ProxyUnreachable =
    "No se pudo conectar con el proxy. Revisá la configuración del proxy.";
inline constexpr std::string_view ProxyFailed =
    "El proxy no dejó pasar la conexión con el servidor. Revisá la configuración del proxy.";
// The proxy answered the request for a tunnel with `statusCode`.
std::string proxyRefused(int statusCode);
// A transfer failure without a description of its own.
std::string transferFailure(int code);

// The self-test's report on the command line, in English: release scripts read it.
std::string selfTestPassed(std::string_view version);
std::string selfTestFailed(std::string_view diagnostic);

}  // namespace orbitreel::texts
