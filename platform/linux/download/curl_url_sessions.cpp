#include "platform/linux/download/curl_url_sessions.h"

#include <curl/curl.h>

#include <mutex>

#include "core/identity.h"
#include "platform/linux/download/curl_session.h"

namespace orbitreel {

namespace {

class CurlUrlSessions : public UrlSessions {
public:
    explicit CurlUrlSessions(Environment& environment) : environment_(environment) {
        // libcurl's global set-up is not thread-safe; do it once, up front.
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }

    std::unique_ptr<UrlSession> makeSession(const SessionConfiguration& configuration,
                                            SessionDelegate& delegate) override {
        Path folder = configuration.partialDownloadsFolder
                          ? *configuration.partialDownloadsFolder
                          : defaultPartialDownloadsFolder(environment_.homeDirectory());
        return std::make_unique<CurlSession>(configuration, delegate, std::move(folder));
    }

private:
    Environment& environment_;
};

}  // namespace

Path defaultPartialDownloadsFolder(const Path& home) { return home / SessionFolder; }

std::unique_ptr<UrlSessions> makeCurlUrlSessions(Environment& environment) {
    return std::make_unique<CurlUrlSessions>(environment);
}

}  // namespace orbitreel
