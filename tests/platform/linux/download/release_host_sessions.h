#pragma once
// The libcurl sessions, reaching a test release host: its configuration goes
// into whatever the caller asks for.

#include <memory>
#include <optional>

#include "platform/url_session.h"
#include "tests/platform/linux/download/download_fixture.h"
#include "tests/support/home_environment.h"

namespace orbitreel::test_support {

class ReleaseHostSessions : public UrlSessions {
public:
    explicit ReleaseHostSessions(const TestReleaseHost& host);
    std::unique_ptr<UrlSession> makeSession(const SessionConfiguration& configuration,
                                            SessionDelegate& delegate) override;

    std::optional<SessionConfiguration> asked;     // what the caller asked for
    std::optional<double> requestTimeoutOverride;  // a shorter one for stall tests

private:
    const TestReleaseHost& host_;
    // The host's configuration names the partial downloads' folder, so the
    // home matters to nothing; it is the host's folder all the same.
    HomeEnvironment environment_;
    std::unique_ptr<UrlSessions> real_;
};

}  // namespace orbitreel::test_support
