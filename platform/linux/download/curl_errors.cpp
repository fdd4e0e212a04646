#include "platform/linux/download/curl_errors.h"

#include <curl/curl.h>

#include <optional>

#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {

bool isNoNetwork(long osErrno) { return systemCause(static_cast<int>(osErrno)) == texts::SystemCause::noNetwork; }

// The proxy's part in a failure, when it has one. Never the proxy's address:
// it may carry the user and password.
std::optional<std::string> proxyCause(CURLcode code, long osErrno, const ProxyTrace& proxy) {
    // A CONNECT answered with anything but success, whatever code libcurl
    // gives it (7.88 calls it a receive error).
    if (proxy.connectStatus == 407) return std::string(texts::ProxyCredentialsRefused);
    if (proxy.connectStatus != 0 && (proxy.connectStatus < 200 || proxy.connectStatus >= 300))
        return texts::proxyRefused(static_cast<int>(proxy.connectStatus));
    switch (code) {
        case CURLE_COULDNT_RESOLVE_PROXY:
            return std::string(texts::ProxyNotFound);
        case CURLE_COULDNT_CONNECT:
            if (proxy.used && !isNoNetwork(osErrno)) return std::string(texts::ProxyUnreachable);
            return std::nullopt;
        case CURLE_PROXY:
            if (proxy.socksError == CURLPX_USER_REJECTED) return std::string(texts::ProxyCredentialsRefused);
            return std::string(texts::ProxyFailed);
        default:
            return std::nullopt;
    }
}

}  // namespace

PlatformError curlTransferError(int code, long osErrno, const ProxyTrace& proxy) {
    if (auto cause = proxyCause(static_cast<CURLcode>(code), osErrno, proxy))
        return PlatformError{"curl", code, std::move(*cause)};
    std::string_view text;
    switch (static_cast<CURLcode>(code)) {
        case CURLE_COULDNT_RESOLVE_HOST:
            text = texts::HostNotFound;
            break;
        case CURLE_COULDNT_CONNECT:
            text = isNoNetwork(osErrno) ? texts::NoNetwork : texts::Refused;
            break;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            text = isNoNetwork(osErrno) ? texts::NoNetwork : texts::ConnectionLost;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            text = texts::TimedOut;
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
            text = texts::InsecureConnection;
            break;
        case CURLE_UNSUPPORTED_PROTOCOL:
            text = texts::HttpsOnly;
            break;
        default:
            break;
    }
    // The library's own words are English: the causes not mapped get the generic text.
    return PlatformError{"curl", code, text.empty() ? texts::transferFailure(code) : std::string(text)};
}

PlatformError downloadFileError(int errnoValue) {
    return PlatformError{"posix", errnoValue, texts::downloadFileFailure(systemCause(errnoValue), errnoValue)};
}

PlatformError unusableResumeDataError() { return PlatformError{"session", 1, std::string(texts::UnusableResumeData)}; }

PlatformError missingPartialDownloadError() {
    return PlatformError{"session", 2, std::string(texts::MissingPartialDownload)};
}

PlatformError cannotContinueError(int statusCode) {
    return PlatformError{"session", 3, texts::cannotContinue(statusCode)};
}

PlatformError invalidResponseError() { return PlatformError{"session", 4, std::string(texts::InvalidResponse)}; }

PlatformError tooMuchDataError() { return PlatformError{"session", 5, std::string(texts::TooMuchData)}; }

PlatformError tooManyRedirectsError() {
    return PlatformError{"curl", CURLE_TOO_MANY_REDIRECTS, std::string(texts::TooManyRedirects)};
}

}  // namespace orbitreel
