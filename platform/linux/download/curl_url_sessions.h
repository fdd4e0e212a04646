#pragma once
// Factory of libcurl sessions, the Linux side of URL loading.

#include <memory>

#include "platform/environment.h"
#include "platform/url_session.h"

namespace orbitreel {

// Where sessions keep partial downloads unless configured otherwise: the
// user's cache, beside (not inside) the installer's per-version folders, so a
// download can continue after the installer was closed.
Path defaultPartialDownloadsFolder(const Path& home);

// `environment` gives the home folder for the default partial folder.
std::unique_ptr<UrlSessions> makeCurlUrlSessions(Environment& environment);

}  // namespace orbitreel
