// Home and temporary folders from the environment, UUIDs from OpenSSL's
// random generator, UTC time from gmtime_r.

#include "platform/linux/linux_environment.h"

#include <openssl/rand.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <random>

namespace orbitreel {

namespace {

class LinuxEnvironment : public Environment {
public:
    Path homeDirectory() override {
        if (const char* home = std::getenv("HOME"); home && *home) return home;
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
        return "/";
    }

    Path temporaryDirectory() override {
        if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return tmp;
        return "/tmp";
    }

    std::string newUuid() override {
        std::array<unsigned char, 16> bytes{};
        if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
            // The system generator is the fallback; a UUID must never repeat.
            std::random_device device;
            for (auto& b : bytes) b = static_cast<unsigned char>(device());
        }
        bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
        bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
        static constexpr char hex[] = "0123456789ABCDEF";
        std::string text;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
            text.push_back(hex[bytes[i] >> 4]);
            text.push_back(hex[bytes[i] & 0x0F]);
        }
        return text;
    }

    std::string nowIso8601() override {
        std::time_t now = std::time(nullptr);
        std::tm utc{};
        ::gmtime_r(&now, &utc);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
        return text;
    }
};

}  // namespace

std::unique_ptr<Environment> makeLinuxEnvironment() { return std::make_unique<LinuxEnvironment>(); }

}  // namespace orbitreel
