#include "stage/release_site.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <thread>

#include "stage/sandbox.h"

namespace orbitreel::stage {

namespace fs = std::filesystem;

namespace {

// Where libcurl with OpenSSL looks on Debian (curl-config --ca).
constexpr const char* SystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";
constexpr const char* SystemHosts = "/etc/hosts";

void writeFile(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

ReleaseSite::ReleaseSite(const fs::path& folder) {
    fs::create_directories(folder);
    auto certificates = release_host::makeCertificates(folder / "certificates", {ReleaseHostName});

    writeFile(folder / "hosts", std::string("127.0.0.1 localhost\n::1 localhost\n127.0.0.1 ") + ReleaseHostName + "\n");
    // The authorities the machine trusts, and ours.
    writeFile(folder / "ca-certificates.crt", readFile(SystemCaBundle) + "\n" + readFile(certificates.authority));
    bindOver(folder / "hosts", SystemHosts);
    bindOver(folder / "ca-certificates.crt", SystemCaBundle);

    server_ = std::make_unique<release_host::Server>(certificates, 443);
}

ReleaseSite::~ReleaseSite() = default;

std::string pathOfUrl(const std::string& url) {
    const std::string prefix = std::string("https://") + ReleaseHostName;
    if (url.rfind(prefix, 0) != 0) throw std::runtime_error("not an address on the release host: " + url);
    return url.substr(prefix.size());
}

release_host::Entity fileEntity(const fs::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot read " + file.string());
    }
    auto descriptor = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    release_host::Entity entity;
    entity.size = static_cast<std::uint64_t>(info.st_size);
    entity.etag = "\"" + std::to_string(info.st_size) + "-" + std::to_string(info.st_mtim.tv_sec) + "-" +
                  std::to_string(info.st_mtim.tv_nsec) + "\"";
    entity.fill = [descriptor](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::pread(*descriptor, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (n <= 0) throw std::runtime_error("short read");
            done += static_cast<std::size_t>(n);
        }
    };
    return entity;
}

release_host::Entity paced(release_host::Entity entity, std::chrono::milliseconds total) {
    const double secondsPerByte = entity.size ? std::chrono::duration<double>(total).count() / entity.size : 0;
    auto fill = entity.fill;
    entity.fill = [fill, secondsPerByte](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::this_thread::sleep_for(std::chrono::duration<double>(secondsPerByte * out.size()));
        fill(offset, out);
    };
    return entity;
}

release_host::Entity withByteChanged(release_host::Entity entity, std::uint64_t offset) {
    auto fill = entity.fill;
    entity.fill = [fill, offset](std::uint64_t first, std::span<std::uint8_t> out) {
        fill(first, out);
        if (offset >= first && offset < first + out.size()) out[offset - first] ^= 0x01;
    };
    entity.etag = entity.etag.empty() ? "\"changed\"" : entity.etag.substr(0, entity.etag.size() - 1) + "-changed\"";
    return entity;
}

}  // namespace orbitreel::stage
