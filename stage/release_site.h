#pragma once
// The release host as the installer meets it in the sandbox: "orbitreel.app"
// resolves to 127.0.0.1, where an HTTPS server with a certificate from a
// throw-away authority listens on port 443, and the system's CA bundle (in
// the sandbox only) trusts that authority.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "core/identity.h"
#include "stage/release_host/release_host.h"

namespace orbitreel::stage {

inline constexpr const char* ReleaseHostName = ReleaseHost;

class ReleaseSite {
public:
    // Keeps its certificates and the files it lays over /etc in `folder`.
    explicit ReleaseSite(const std::filesystem::path& folder);
    ~ReleaseSite();

    release_host::Server& host() { return *server_; }

private:
    std::unique_ptr<release_host::Server> server_;
};

// The path part of an https://orbitreel.app/... address.
std::string pathOfUrl(const std::string& url);

// A file served as it is on disk, read as it is sent.
release_host::Entity fileEntity(const std::filesystem::path& file);
// The same bytes, sent so that the whole takes about `total`.
release_host::Entity paced(release_host::Entity entity, std::chrono::milliseconds total);
// The same bytes but one, flipped, under another validator.
release_host::Entity withByteChanged(release_host::Entity entity, std::uint64_t offset);

}  // namespace orbitreel::stage
