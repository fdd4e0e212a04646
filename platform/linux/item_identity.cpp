#include "platform/linux/item_identity.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {

Result<ItemIdentity> identityFrom(int folder, const char* name, int flags, const Path& shown) {
    struct statx st {};
    if (::statx(folder, name, flags | AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_BTIME, &st) != 0)
        return fail_with(posixError(errno, shown));
    ItemIdentity identity;
    identity.device = (static_cast<std::uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
    identity.inode = st.stx_ino;
    if (st.stx_mask & STATX_BTIME) {
        identity.bornSeconds = st.stx_btime.tv_sec;
        identity.bornNanoseconds = st.stx_btime.tv_nsec;
    }
    return identity;
}

}  // namespace

Result<ItemIdentity> identityOf(int fd, const Path& shown) { return identityFrom(fd, "", AT_EMPTY_PATH, shown); }

Result<ItemIdentity> identityAt(int folder, const std::string& name, const Path& shown) {
    return identityFrom(folder, name.c_str(), 0, shown);
}

}  // namespace orbitreel
