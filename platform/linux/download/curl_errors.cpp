#include "platform/linux/download/curl_errors.h"

#include <curl/curl.h>

#include <cerrno>
#include <system_error>

namespace orbitreel {

namespace {

constexpr const char* NoNetwork = "No hay conexión a internet.";
constexpr const char* HostNotFound = "No se encontró el servidor de descargas.";
constexpr const char* Refused = "El servidor rechazó la conexión.";
constexpr const char* Lost = "Se perdió la conexión con el servidor.";
constexpr const char* TimedOut = "Se agotó el tiempo de espera de la conexión.";
constexpr const char* InsecureConnection = "No se pudo establecer una conexión segura con el servidor.";
constexpr const char* DiskFull = "No queda espacio en el disco.";

bool isNoNetwork(long osErrno) {
    return osErrno == ENETUNREACH || osErrno == ENETDOWN || osErrno == EHOSTUNREACH;
}

}  // namespace

PlatformError curlTransferError(int code, long osErrno, const std::string& detail) {
    const char* text = nullptr;
    switch (static_cast<CURLcode>(code)) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        text = HostNotFound;
        break;
    case CURLE_COULDNT_CONNECT:
        if (isNoNetwork(osErrno)) text = NoNetwork;
        else text = Refused;
        break;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        text = isNoNetwork(osErrno) ? NoNetwork : Lost;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        text = TimedOut;
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
        text = InsecureConnection;
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        text = "Solo se descargan archivos por una conexión segura (HTTPS).";
        break;
    default:
        break;
    }
    if (text) return PlatformError{"curl", code, text};
    // The library's own words, the more specific buffer first.
    std::string own = detail.empty() ? curl_easy_strerror(static_cast<CURLcode>(code)) : detail;
    return PlatformError{"curl", code, own};
}

PlatformError downloadFileError(int errnoValue) {
    switch (errnoValue) {
    case ENOSPC:
    case EDQUOT:
        return PlatformError{"posix", errnoValue, DiskFull};
    case EACCES:
    case EPERM:
        return PlatformError{"posix", errnoValue, "No hay permiso para guardar la descarga."};
    case EROFS:
        return PlatformError{"posix", errnoValue, "El disco es de solo lectura."};
    default:
        return PlatformError{"posix", errnoValue, std::generic_category().message(errnoValue)};
    }
}

PlatformError unusableResumeDataError() {
    return PlatformError{"session", 1, "Los datos para continuar la descarga no sirven; la próxima vez empieza de nuevo."};
}

PlatformError missingPartialDownloadError() {
    return PlatformError{"session", 2, "Ya no está la parte descargada; la próxima vez la descarga empieza de nuevo."};
}

PlatformError cannotContinueError(int statusCode) {
    return PlatformError{"session", 3,
                         "El servidor no pudo continuar la descarga (respuesta " + std::to_string(statusCode) + ")."};
}

PlatformError invalidResponseError() {
    return PlatformError{"session", 4, "El servidor mandó una respuesta que no tiene sentido."};
}

PlatformError tooMuchDataError() {
    return PlatformError{"session", 5, "El servidor mandó mucho más de lo que pesa la descarga."};
}

PlatformError tooManyRedirectsError() {
    return PlatformError{"curl", CURLE_TOO_MANY_REDIRECTS, "El servidor redirigió la descarga demasiadas veces."};
}

}  // namespace orbitreel
