#include "core/texts.h"

#include "core/identity.h"

namespace orbitreel::texts {

namespace {

std::string joined(std::string_view a, std::string_view b, std::string_view c = {}, std::string_view d = {}) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size() + d.size());
    return out.append(a).append(b).append(c).append(d);
}

std::string megabytes(std::int64_t bytes) { return std::to_string(bytes / 1000000); }

// One row per cause: as a sentence about a file (the path and the full stop
// follow), and as the reason after "No se pudo iniciar …: ". A cause without
// a row, or an empty cell, gets the generic text with the number.
struct CauseTexts {
    SystemCause cause;
    std::string_view sentence;
    std::string_view reason;
};

constexpr CauseTexts Causes[] = {
    {SystemCause::missing, "No existe el archivo o la carpeta", "no existe."},
    {SystemCause::noPermission, "No hay permiso para acceder", "no hay permiso para ejecutarla."},
    {SystemCause::noSpace, "No queda espacio en el disco", {}},
    {SystemCause::exists, "Ya existe un elemento con ese nombre", {}},
    {SystemCause::readOnly, "El disco es de solo lectura", {}},
    {SystemCause::notFolder, "Una parte de la ruta no es una carpeta", "una parte de la ruta no es una carpeta."},
    {SystemCause::isFolder, "Es una carpeta, no un archivo", {}},
    {SystemCause::diskError, "Error de lectura o escritura en el disco", {}},
    {SystemCause::nameTooLong, "El nombre es demasiado largo", "la ruta es demasiado larga."},
    {SystemCause::notProgram, {}, "no es un programa ejecutable."},
    {SystemCause::linkLoop, {}, "demasiados enlaces simbólicos en la ruta."},
    {SystemCause::argumentsTooLong, {}, "la lista de argumentos es demasiado larga."},
    {SystemCause::noMemory, {}, "no hay memoria suficiente."},
    {SystemCause::tooManyProcesses, {}, "hay demasiados procesos en marcha."},
    {SystemCause::programBusy, {}, "el archivo está abierto para escritura."},
    {SystemCause::processGone, {}, "el proceso ya no existe."},
};

CauseTexts row(SystemCause cause) {
    for (const auto& entry : Causes)
        if (entry.cause == cause) return entry;
    return {cause, {}, {}};
}

std::string causeReason(SystemCause cause, int code) {
    const auto text = row(cause).reason;
    if (!text.empty()) return std::string(text);
    return "error del sistema número " + std::to_string(code) + ".";
}

}  // namespace

std::string releaseDetails(std::string_view version, std::int64_t bytes) {
    return joined("Versión ", version, " · ", megabytes(bytes) + " MB");
}

std::string progressDetails(std::int64_t percent, std::int64_t writtenBytes, std::int64_t totalBytes) {
    return std::to_string(percent) + "% · " + megabytes(writtenBytes) + " de " + megabytes(totalBytes) + " MB";
}

std::string notOpened(std::string_view reason) {
    return joined("Instalado. Abrí Orbitreel desde Aplicaciones. ", reason);
}

std::string toolFailed() {
    return joined("No se pudo instalar. Reintentá o usá la descarga completa de ", ReleaseHost, "/downloads.");
}

std::string downloadCut(std::string_view reason) {
    return joined("Se cortó la descarga. Revisá tu conexión y tocá Reintentar.", "\n", reason);
}

std::string unreadableRelease(std::string_view detail) {
    return joined("La información de esta versión no se puede leer: ", detail);
}

std::string notJson(std::string_view parserMessage) { return joined("no es JSON válido (", parserMessage, ")."); }
std::string missingField(std::string_view key) { return joined("falta el campo \"", key, "\"."); }
std::string fieldNotText(std::string_view key) { return joined("el campo \"", key, "\" no es un texto."); }
std::string fieldTooLarge(std::string_view key) {
    return joined("el campo \"", key, "\" no entra en un entero de 64 bits.");
}
std::string fieldNotInteger(std::string_view key) { return joined("el campo \"", key, "\" no es un número entero."); }

std::string fileFailure(SystemCause cause, int code, std::string_view path) {
    const auto sentence = row(cause).sentence;
    std::string text = sentence.empty() ? "Error del sistema número " + std::to_string(code) : std::string(sentence);
    if (!path.empty()) text.append(" (").append(path).append(")");
    return text + ".";
}

std::string downloadFileFailure(SystemCause cause, int code) {
    if (cause == SystemCause::noPermission) return "No hay permiso para guardar la descarga.";
    return fileFailure(cause, code, {});
}

std::string toolNotStarted(std::string_view tool, SystemCause cause, int code) {
    return joined("No se pudo iniciar la herramienta ", tool, ": ", causeReason(cause, code));
}

std::string toolNotAwaited(std::string_view tool, SystemCause cause, int code) {
    return joined("No se pudo esperar a la herramienta ", tool, ": ", causeReason(cause, code));
}

std::string appNotOpened(std::string_view bundle, SystemCause cause, int code) {
    return appNotOpened(bundle, causeReason(cause, code));
}

std::string appNotOpened(std::string_view bundle, std::string_view reason) {
    return joined("No se pudo abrir ", bundle, ": ", reason);
}

std::string notTrashed(std::string_view path) { return joined("No se pudo mover a la Papelera (", path, ")."); }

std::string folderReplaced(std::string_view path) {
    return joined("Otra carpeta ocupó el lugar de la copia verificada (", path, ").");
}

std::string cannotContinue(int statusCode) {
    return "El servidor no pudo continuar la descarga (respuesta " + std::to_string(statusCode) + ").";
}

std::string proxyRefused(int statusCode) {
    return "El proxy no dejó pasar la conexión con el servidor (respuesta " + std::to_string(statusCode) +
           "). Revisá la configuración del proxy.";
}

std::string transferFailure(int code) { return "Error de conexión número " + std::to_string(code) + "."; }

std::string selfTestPassed(std::string_view version) {
    return joined("PASS: native installer metadata, pinned HTTPS release, SHA256 streaming (", version, ").\n");
}

std::string selfTestFailed(std::string_view diagnostic) {
    return joined("Installer verification failed: ", diagnostic, "\n");
}

}  // namespace orbitreel::texts
