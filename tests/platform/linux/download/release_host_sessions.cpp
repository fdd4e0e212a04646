#include "tests/platform/linux/download/release_host_sessions.h"

#include "platform/linux/download/curl_url_sessions.h"

namespace orbitreel::test_support {

ReleaseHostSessions::ReleaseHostSessions(const TestReleaseHost& host)
    : host_(host), environment_(host.folder(), host.folder()), real_(makeCurlUrlSessions(environment_)) {}

std::unique_ptr<UrlSession> ReleaseHostSessions::makeSession(const SessionConfiguration& configuration,
                                                             SessionDelegate& delegate) {
    asked = configuration;
    SessionConfiguration test = host_.configuration();
    test.timeoutIntervalForRequest = requestTimeoutOverride.value_or(configuration.timeoutIntervalForRequest);
    test.timeoutIntervalForResource = configuration.timeoutIntervalForResource;
    test.largestFile = configuration.largestFile;
    return real_->makeSession(test, delegate);
}

}  // namespace orbitreel::test_support
