#include "helpers/mapped_piece.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>

#include <mutex>

namespace orbitreel::helpers {

namespace {

// Touching a mapped page past the file's end raises SIGBUS in the thread that
// touched it; that thread's hashing then ends as a short read would.
thread_local sigjmp_buf* busErrorLanding = nullptr;

void onBusError(int signal) {
    if (busErrorLanding != nullptr) siglongjmp(*busErrorLanding, 1);
    // Not ours: fail as if no handler were there.
    ::signal(signal, SIG_DFL);
}

void catchBusErrors() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = onBusError;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
}

// Only C frames (OpenSSL) lie between the landing and a fault, so the jump
// skips no destructor; the half-updated hash is thrown away.
bool hashLanded(base::Sha256& hash, const void* data, std::size_t length) {
    sigjmp_buf landing;
    if (sigsetjmp(landing, 1) != 0) {
        busErrorLanding = nullptr;
        return false;
    }
    busErrorLanding = &landing;
    hash.update(data, length);
    busErrorLanding = nullptr;
    return true;
}

}  // namespace

MappedHash hashMappedPiece(int fd, std::uint64_t offset, std::size_t length, base::Sha256Digest& digest) {
    catchBusErrors();
    base::Sha256 hash;
    if (length > 0) {
        void* data = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, static_cast<off_t>(offset));
        if (data == MAP_FAILED) return MappedHash::unmappable;
        const bool whole = hashLanded(hash, data, length);
        ::munmap(data, length);
        if (!whole) return MappedHash::shorter;
    }
    digest = hash.finish();
    return MappedHash::done;
}

}  // namespace orbitreel::helpers
