#pragma once
// The session's resume data: a small versioned JSON blob naming the URL, how
// many bytes are already on disk, the validator the server gave them and the
// partial file, by a plain name inside the session's own folder.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/files.h"

namespace orbitreel {

inline constexpr int ResumeDataFormat = 1;

struct ResumeState {
    std::string url;
    std::int64_t bytes = 0;
    std::string validator;  // an ETag (strong) or a Last-Modified date
    std::string partialName;

    friend bool operator==(const ResumeState&, const ResumeState&) = default;
};

Bytes encodeResumeData(const ResumeState& state);

// Absent for anything but a blob of our format and version whose partial file
// is a plain name of ours (no folder, nothing that leaves the folder).
std::optional<ResumeState> decodeResumeData(const Bytes& blob);

// Whether `name` could be one of the session's partial files.
bool isPartialName(const std::string& name);

}  // namespace orbitreel
