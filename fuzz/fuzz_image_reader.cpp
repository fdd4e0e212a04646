// Feeds arbitrary bytes to hdiutil's reading of an image: the bytes are the
// volume, under a seal made to fit them, so that mutations reach the reader
// past the seal check. Beyond not crashing: the reading is one, so an image
// that verify passes attaches; a failed attach leaves the mount point empty;
// and nothing ever appears outside the mount point.

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "standins/hdiutil/image_mount.h"
#include "standins/hdiutil/image_seal.h"
#include "standins/hdiutil/image_verify.h"

namespace {

namespace fs = std::filesystem;

// Names in a folder, "." and ".." left out.
std::size_t countNames(const fs::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    return count;
}

const fs::path& scratch() {
    static const fs::path folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/fuzz-image-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        fs::create_directory(fs::path(pattern) / "mount");
        return fs::path(pattern);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orbitreel::standins;
    const fs::path image = scratch() / "image.dmg", mount = scratch() / "mount";
    {
        std::ofstream out(image, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (!sealImage(image)) std::abort();

    const bool verified = verifyImage(image).has_value();
    auto attached = attachImage(image, mount);
    if (verified && !attached) std::abort();
    if (attached) {
        if (!detachImage(mount)) std::abort();
    }
    if (countNames(mount) != 0 || countNames(scratch()) != 2) std::abort();
    return 0;
}
