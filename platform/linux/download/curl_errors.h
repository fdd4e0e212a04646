#pragma once
// The errors a user meets while downloading, as platform errors with short
// Spanish descriptions; a generic one with the code for the causes not mapped.

#include <string>

#include "base/error.h"

namespace orbitreel {

// What a failed request shows of the proxy it went through, if any.
struct ProxyTrace {
    bool used = false;       // the environment sent the request through a proxy
    long connectStatus = 0;  // the proxy's answer to CONNECT; 0: none came
    long socksError = 0;     // libcurl's CURLPX_* detail of a CURLE_PROXY
};

// A transfer that libcurl ended with `code`. `osErrno` is the socket error
// libcurl saw (0 when none). A failure the proxy caused names the proxy.
PlatformError curlTransferError(int code, long osErrno, const ProxyTrace& proxy = {});

// The session's own file work on the partial download failed with `errnoValue`.
PlatformError downloadFileError(int errnoValue);

// The task found the resume data unusable; nothing was touched.
PlatformError unusableResumeDataError();
// The partial download that the resume data names is gone or changed.
PlatformError missingPartialDownloadError();
// The server answered a resumed request with something we cannot continue.
PlatformError cannotContinueError(int statusCode);
// A header whose number is not a size, or a range at odds with its length.
PlatformError invalidResponseError();
// The body ran far past the size the file can have.
PlatformError tooMuchDataError();
// More redirects than a task follows.
PlatformError tooManyRedirectsError();

}  // namespace orbitreel
