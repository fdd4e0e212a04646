#include "platform/linux/download/curl_proxy.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace orbitreel {

namespace {

std::optional<std::string> urlPart(const std::string& url, CURLUPart part) {
    CURLU* handle = curl_url();
    if (!handle) return std::nullopt;
    std::optional<std::string> value;
    char* text = nullptr;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(handle, part, &text, 0) == CURLUE_OK) {
        value = text;
        curl_free(text);
    }
    curl_url_cleanup(handle);
    return value;
}

const char* variable(const std::string& name) { return std::getenv(name.c_str()); }

std::string lower(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string upper(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

bool isAddress(const std::string& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// libcurl's rule: "*" alone names every host; otherwise a list split by
// commas and blanks, where a name matches itself and the names under it
// (leading and trailing dots ignored), and an address only itself.
bool namedIn(std::string_view list, std::string host) {
    if (list == "*") return true;
    if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
    const bool address = isAddress(host);
    if (!address && host.ends_with('.')) host.pop_back();
    host = lower(host);
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find_first_of(", \t", start);
        if (end == std::string_view::npos) end = list.size();
        std::string token = lower(std::string(list.substr(start, end - start)));
        start = end + 1;
        if (token.empty()) continue;
        if (address) {
            if (token == host) return true;
            continue;
        }
        if (token.ends_with('.')) token.pop_back();
        if (token.starts_with('.')) token.erase(0, 1);
        if (token.empty()) continue;
        if (host == token) return true;
        if (host.size() > token.size() && host.ends_with(token) && host[host.size() - token.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace

bool environmentProxyFor(const std::string& url) {
    auto scheme = urlPart(url, CURLUPART_SCHEME);
    auto host = urlPart(url, CURLUPART_HOST);
    if (!scheme || !host || host->empty()) return false;

    const char* noProxy = variable("no_proxy");
    if (!noProxy) noProxy = variable("NO_PROXY");
    if (noProxy && *noProxy && namedIn(noProxy, *host)) return false;

    // The capital HTTP_PROXY is never read: a CGI program's environment
    // carries the request's own "Proxy:" header under that name.
    const std::string own = lower(*scheme) + "_proxy";
    const char* proxy = variable(own);
    if (!proxy && own != "http_proxy") proxy = variable(upper(own));
    if (!proxy) proxy = variable("all_proxy");
    if (!proxy) proxy = variable("ALL_PROXY");
    return proxy && *proxy;
}

}  // namespace orbitreel
