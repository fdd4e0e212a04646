// URLs from outside: the manifest's, and every redirect a server proposes.
// The installer follows a redirect only to HTTPS on the release host as
// parseUrl reads it, and libcurl then connects to the host as libcurl reads
// it: the two must never disagree about that host.

#include <curl/curl.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/url.h"
#include "fuzz/invariant.h"

namespace {

using orbitreel::fuzz::require;

constexpr std::string_view ReleaseHost = "orbitreel.app";

// libcurl's reading, with the flags it uses for a request's URL.
struct CurlReading {
    std::string scheme, host;
};
std::optional<CurlReading> curlReading(const std::string& text) {
    CURLU* url = curl_url();
    if (!url) return std::nullopt;
    std::optional<CurlReading> reading;
    char *scheme = nullptr, *host = nullptr;
    if (curl_url_set(url, CURLUPART_URL, text.c_str(), CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK)
        reading = CurlReading{scheme, host};
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(url);
    return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto url = orbitreel::parseUrl(text);
    if (!url) return 0;

    // Nothing that could end or split a header, nothing outside ASCII.
    for (unsigned char c : text) require(c > 0x20 && c < 0x7f, "an accepted URL is printable ASCII");

    if (url->scheme) {
        require(text.starts_with(*url->scheme + ":"), "the scheme is the text's start");
        require(std::isalpha(static_cast<unsigned char>(url->scheme->front())), "a scheme starts with a letter");
    }
    if (url->host) {
        const std::string& host = *url->host;
        require(!host.empty(), "a host is never empty");
        require(host.find_first_of("/?#@") == std::string::npos, "a host holds no delimiter");
        require(host.find(':') == std::string::npos || (host.front() == '[' && host.back() == ']'),
                "only an IP literal holds a colon");
        require(text.find("//" + host) != std::string::npos || text.find("@" + host) != std::string::npos,
                "the host is written after // or userinfo");
    }

    // Where the installer would go, libcurl must go too, or nowhere.
    if (url->scheme == "https" && url->host == ReleaseHost) {
        if (auto curl = curlReading(text)) {
            require(curl->scheme == "https", "libcurl sees the same scheme");
            require(curl->host == ReleaseHost, "libcurl connects to the release host");
        }
    }
    return 0;
}
