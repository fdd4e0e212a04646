#pragma once
// Whether a request goes through a proxy that the environment names, worked
// out as libcurl does: the library itself tells it only from 8.7 on, and a
// failure to connect reads the same whether the server or the proxy is down.

#include <string>

namespace orbitreel {

// Whether libcurl, left to the environment, sends a request for `url` through
// a proxy: "<scheme>_proxy" (then its capitals, never for http), "all_proxy"
// or "ALL_PROXY", unless "no_proxy" or "NO_PROXY" names the URL's host.
bool environmentProxyFor(const std::string& url);

}  // namespace orbitreel
