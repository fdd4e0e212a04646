#pragma once
// The layer's one reading of errno: every error number that becomes a text
// goes through `systemCause`, whose Spanish wording lives in core/texts.
// Header-only, so the URL session's library uses it without linking the rest
// of the layer.

#include <cerrno>

#include "base/error.h"
#include "core/texts.h"
#include "platform/files.h"

namespace orbitreel {

inline texts::SystemCause systemCause(int code) {
    using enum texts::SystemCause;
    switch (code) {
        case ENOENT:
            return missing;
        case EACCES:
        case EPERM:
            return noPermission;
        case ENOSPC:
        case EDQUOT:
            return noSpace;
        case EEXIST:
        case ENOTEMPTY:
            return exists;
        case EROFS:
            return readOnly;
        case ENOTDIR:
            return notFolder;
        case EISDIR:
            return isFolder;
        case EIO:
            return diskError;
        case ENAMETOOLONG:
            return nameTooLong;
        case ENOEXEC:
            return notProgram;
        case ELOOP:
            return linkLoop;
        case E2BIG:
            return argumentsTooLong;
        case ENOMEM:
            return noMemory;
        case EAGAIN:
            return tooManyProcesses;
        case ETXTBSY:
            return programBusy;
        case ECHILD:
            return processGone;
        case ENETUNREACH:
        case ENETDOWN:
        case EHOSTUNREACH:
            return noNetwork;
        default:
            return other;
    }
}

// A step on `path` (or on no named item) failed with errno `code`.
inline PlatformError posixError(int code, const Path& path = {}) {
    return PlatformError{"posix", code, texts::fileFailure(systemCause(code), code, path.string())};
}
inline Failure posixFailure(int code, const Path& path = {}) { return fail_with(posixError(code, path)); }

}  // namespace orbitreel
