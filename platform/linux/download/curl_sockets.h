#pragma once
// libcurl's own descriptors made close-on-exec, so that a program we start
// never inherits the connection to the release host or curl's wake-up pair.

#include <curl/curl.h>

namespace orbitreel {

// Has `easy` open its sockets close-on-exec.
void openSocketsCloseOnExec(CURL* easy);

// A multi handle whose wake-up sockets are close-on-exec: libcurl 7.88 makes
// them without the flag and offers no way to supply them.
CURLM* makeMultiCloseOnExec();

}  // namespace orbitreel
