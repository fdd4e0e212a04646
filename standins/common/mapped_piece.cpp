#include "standins/common/mapped_piece.h"

#include <sys/mman.h>
#include <sys/stat.h>

namespace orbitreel::standins {

MappedHash hashMappedPiece(int fd, std::uint64_t offset, std::size_t length, base::Sha256Digest& digest) {
    base::OpenSslSha256 hash;
    if (length > 0) {
        // Touching a mapped page past the end would raise SIGBUS: a file
        // already shorter fails here, as a short read would.
        struct stat st {};
        if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < offset + length)
            return MappedHash::shorter;
        void* data = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, static_cast<off_t>(offset));
        if (data == MAP_FAILED) return MappedHash::unmappable;
        hash.update(data, length);
        ::munmap(data, length);
    }
    digest = hash.finalize();
    return MappedHash::done;
}

}  // namespace orbitreel::standins
