#pragma once
// A throw-away certificate authority and a server certificate it signs, made
// at run time for the local release host. Nothing of it is ever committed.

#include <filesystem>
#include <string>
#include <vector>

namespace orbitreel::release_host {

struct Certificates {
    std::filesystem::path authority;    // the authority's certificate (PEM), to trust
    std::filesystem::path certificate;  // the server's certificate (PEM)
    std::filesystem::path key;          // the server's private key (PEM)
};

// Writes "authority.pem", "server.pem" and "server-key.pem" into `folder`
// (created if needed) for a server known by `names` (DNS names). Throws
// std::runtime_error when OpenSSL or the file system fails.
Certificates makeCertificates(const std::filesystem::path& folder, const std::vector<std::string>& names,
                              int validDays = 2);

}  // namespace orbitreel::release_host
