#include "platform/linux/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <filesystem>
#include <system_error>
#include <string>
#include <utility>
#include <vector>

#include "base/own_item.h"
#include "base/unique_fd.h"
#include "core/texts.h"
#include "platform/linux/item_identity.h"
#include "platform/linux/own_trash.h"
#include "platform/linux/own_tree.h"
#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {


Failure replaced(const Path& path) {
    return fail_with(PlatformError{"files", 1, texts::folderReplaced(path.string())});
}

// A folder that is the person's alone: theirs, and nobody else may read,
// write or enter it.
bool isPrivate(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && base::isPersonsPrivate(st);
}

// The entry of the folder `parent` that is the item `identity`, under
// whatever name it lies now; none when no entry is.
struct Found {
    base::UniqueFd parent;
    std::optional<std::string> name;
};

Result<Found> entryWithIdentity(const Path& parent, const ItemIdentity& identity) {
    Found found{base::UniqueFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), std::nullopt};
    if (!found.parent) return posixFailure(errno, parent);
    auto names = entryNames(found.parent.get(), parent);
    if (!names) return fail_with(names.error());
    for (const auto& name : *names) {
        auto seen = identityAt(found.parent.get(), name, parent / name);
        if (seen && *seen == identity) {
            found.name = name;
            break;
        }
    }
    return found;
}

class PosixPrivateFolder final : public PrivateFolder {
public:
    PosixPrivateFolder(base::UniqueFd fd, ItemIdentity identity, Path shown)
        : fd_(std::move(fd)), identity_(identity), shown_(std::move(shown)) {}

    ItemIdentity identity() const override { return identity_; }
    const Path& shownPath() const override { return shown_; }

    // Through our own descriptor: the tools we start run as us and may
    // follow it, and it leads to this folder whatever its name is now. The
    // process as /proc numbers it, which in a namespace of its own need not
    // be the number getpid gives.
    Path pathInside(const std::string& name) const override {
        std::error_code error;
        const Path self = std::filesystem::read_symlink("/proc/self", error);
        return Path("/proc") / (error ? std::to_string(::getpid()) : self.string()) / "fd" /
               std::to_string(fd_.get()) / name;
    }

    Result<ItemIdentity> makeFolder(const std::string& name) override {
        if (::mkdirat(fd_.get(), name.c_str(), 0700) != 0) return posixFailure(errno, shown(name));
        return identityAt(fd_.get(), name, shown(name));
    }

    Result<std::optional<ItemIdentity>> identityOf(const std::string& name) override {
        auto identity = identityAt(fd_.get(), name, shown(name));
        if (identity) return std::optional<ItemIdentity>(*identity);
        struct stat st {};
        if (::fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
            return std::optional<ItemIdentity>();
        return fail_with(identity.error());
    }

    Result<std::vector<std::string>> names() override { return entryNames(fd_.get(), shown_); }

    Result<Files::Exchange> exchangeWith(const std::string& name, const Path& outside) override {
        auto place = locate(outside);
        if (!place) return fail_with(place.error());
        if (::renameat2(fd_.get(), name.c_str(), place->parent.get(), place->name.c_str(), RENAME_EXCHANGE) == 0)
            return Files::Exchange::done;
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return Files::Exchange::unsupported;
        return posixFailure(errno, outside);
    }

    Result<void> moveOut(const std::string& name, const Path& outside) override {
        auto place = locate(outside);
        if (!place) return fail_with(place.error());
        if (::renameat2(fd_.get(), name.c_str(), place->parent.get(), place->name.c_str(), RENAME_NOREPLACE) != 0)
            return posixFailure(errno, outside);
        return {};
    }

    Result<void> moveIn(const Path& outside, const std::string& name) override {
        auto place = locate(outside);
        if (!place) return fail_with(place.error());
        if (::renameat2(place->parent.get(), place->name.c_str(), fd_.get(), name.c_str(), RENAME_NOREPLACE) != 0)
            return posixFailure(errno, outside);
        return {};
    }

    Result<void> removeInside(const std::string& name) override {
        return removeOwnTreeAt(fd_.get(), name, shown(name));
    }

    Result<void> trashInside(const std::string& name, const std::string& trashedName, const Path& shownAt) override {
        return trashEntry(fd_.get(), name, trashedName, shownAt);
    }

    Result<void> flush() override {
        if (::syncfs(fd_.get()) != 0) return posixFailure(errno, shown_);
        return {};
    }

    // Found by identity, since it may have been renamed within `parent`
    // (nobody else may move it elsewhere: that would need its write
    // permission). Removing an empty folder by name can at worst meet
    // another empty one put there in between, and a full one is refused.
    Result<void> removeFrom(const Path& parent) override {
        auto found = entryWithIdentity(parent, identity_);
        if (!found) return fail_with(found.error());
        if (!found->name) return posixFailure(ENOENT, shown_);
        if (::unlinkat(found->parent.get(), found->name->c_str(), AT_REMOVEDIR) != 0)
            return posixFailure(errno, parent / *found->name);
        return {};
    }

private:
    Path shown(const std::string& name) const { return shown_ / name; }

    base::UniqueFd fd_;
    ItemIdentity identity_;
    Path shown_;
};

}  // namespace

Result<std::unique_ptr<PrivateFolder>> makePrivateFolderAt(const Path& path) {
    auto place = locate(path);
    if (!place) return fail_with(place.error());
    if (::mkdirat(place->parent.get(), place->name.c_str(), 0700) != 0) return posixFailure(errno, path);
    // Others who may write the parent may have put their own in its place
    // already: only a private, empty folder is ours.
    base::UniqueFd fd(::openat(place->parent.get(), place->name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd || !isPrivate(fd.get())) return replaced(path);
    auto inside = entryNames(fd.get(), path);
    if (!inside || !inside->empty()) return replaced(path);
    auto identity = orbitreel::identityOf(fd.get(), path);
    if (!identity) return fail_with(identity.error());
    return std::unique_ptr<PrivateFolder>(std::make_unique<PosixPrivateFolder>(std::move(fd), *identity, path));
}

Result<std::unique_ptr<PrivateFolder>> findPrivateFolderIn(const Path& parent, const ItemIdentity& identity) {
    auto found = entryWithIdentity(parent, identity);
    if (!found) return fail_with(found.error());
    if (!found->name) return std::unique_ptr<PrivateFolder>();
    const Path shown = parent / *found->name;
    // The name may change hands between the look and the open: the opened
    // folder itself must be the recorded one.
    base::UniqueFd fd(
        ::openat(found->parent.get(), found->name->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd || !isPrivate(fd.get())) return std::unique_ptr<PrivateFolder>();
    auto opened = orbitreel::identityOf(fd.get(), shown);
    if (!opened || *opened != identity) return std::unique_ptr<PrivateFolder>();
    return std::unique_ptr<PrivateFolder>(std::make_unique<PosixPrivateFolder>(std::move(fd), identity, shown));
}

}  // namespace orbitreel
