#include "standins/hdiutil/image_seal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "base/hex.h"
#include "base/unique_fd.h"
#include "standins/common/piece_digest.h"

namespace orbitreel::standins {

namespace {

constexpr std::string_view SealMagic = "orbitreel-image-seal 1\n";

bool isLowerHex(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

std::string formatSeal(const Seal& seal) {
    std::string block = std::string(SealMagic) + "length " + std::to_string(seal.length) + "\npieces " + seal.digest + "\n";
    block.resize(SealSize, '\0');
    return block;
}

Result<void> sealImage(const std::filesystem::path& image) {
    base::UniqueFd fd(::open(image.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return failure("cannot open " + image.string(), errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return failure("cannot seal " + image.string(), errno);
    const auto end = static_cast<std::uint64_t>(st.st_size);
    auto digest = PieceHasher().digest(fd.get(), end);
    if (!digest) return fail_with(digest.error());
    std::string block = formatSeal(Seal{end, base::toHex(*digest)});
    if (::pwrite(fd.get(), block.data(), block.size(), static_cast<off_t>(end)) != static_cast<ssize_t>(block.size()))
        return failure("cannot seal " + image.string(), errno);
    if (::fsync(fd.get()) != 0) return failure("cannot seal " + image.string(), errno);
    return {};
}

Result<Seal> readSeal(int fd, std::uint64_t fileSize) {
    if (fileSize < SealSize * 2) return failure("not a disk image: too short");
    std::string block(SealSize, '\0');
    ssize_t got = ::pread(fd, block.data(), SealSize, static_cast<off_t>(fileSize - SealSize));
    if (got != static_cast<ssize_t>(SealSize)) return failure("cannot read the image's seal");

    std::string_view text(block);
    if (!text.starts_with(SealMagic)) return failure("image damaged or truncated: no seal at its end");
    text.remove_prefix(SealMagic.size());

    Seal seal;
    if (!text.starts_with("length ")) return failure("image seal malformed");
    text.remove_prefix(7);
    auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), seal.length);
    if (error != std::errc() || next == text.data() || *next != '\n') return failure("image seal malformed");
    text.remove_prefix(static_cast<std::size_t>(next - text.data()) + 1);

    if (!text.starts_with("pieces ") || text.size() < 7 + 64 + 1) return failure("image seal malformed");
    seal.digest = std::string(text.substr(7, 64));
    if (!isLowerHex(seal.digest) || text[7 + 64] != '\n') return failure("image seal malformed");
    text.remove_prefix(7 + 64 + 1);
    for (char c : text)
        if (c != '\0') return failure("image seal malformed");

    if (seal.length != fileSize - SealSize) return failure("image damaged or truncated: length differs from its seal");
    return seal;
}

}  // namespace orbitreel::standins
