#include "standins/codesign/bundle_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/hex.h"
#include "base/unique_fd.h"
#include "standins/common/folder_tree.h"
#include "standins/common/link_containment.h"
#include "standins/common/piece_digest.h"
#include "standins/common/tree_depth.h"

namespace orbitreel::standins {

namespace {

constexpr mode_t SignedModeBits = S_IFMT | 07555;
// Files hashed together: enough to keep every core busy on small files,
// few enough to hold them open.
constexpr std::size_t MaxFilesPerFlush = 64;
constexpr std::size_t MaxLinesPerFlush = 1024;

std::string modeText(mode_t mode) {
    char text[16];
    std::snprintf(text, sizeof text, "%o", static_cast<unsigned>(mode & SignedModeBits));
    return text;
}

class ManifestWriter {
public:
    explicit ManifestWriter(int rootFd) : rootFd_(rootFd) { hash_.update("orbitreel-bundle-manifest 1\n"); }

    Result<base::Sha256Digest> run() {
        struct stat st {};
        if (::fstat(rootFd_, &st) != 0) return failure("cannot inspect the bundle", errno);
        line("d", st.st_mode, ".", {});
        // The files waiting to be hashed come before whatever stopped the
        // walk, so their failures are the ones to report.
        auto walked = walk(rootFd_, {});
        auto flushed = flush();
        if (!flushed) return fail_with(flushed.error());
        if (!walked) return fail_with(walked.error());
        return hash_.finalize();
    }

private:
    Result<void> walk(int dirFd, const PathComponents& folder) {
        auto names = sortedNames(dirFd);
        if (!names) return fail_with(names.error());
        for (const std::string& name : *names) {
            if (files_.size() >= MaxFilesPerFlush || lines_.size() >= MaxLinesPerFlush) {
                auto flushed = flush();
                if (!flushed) return flushed;
            }
            PathComponents path = folder;
            path.push_back(name);
            if (path.size() > MaxTreeDepth) return failure("bundle nested too deep: " + joinPath(path));
            const std::string where = joinPath(path);
            if (where == SignaturePath) continue;
            auto st = statEntry(dirFd, name);
            if (!st) return fail_with(st.error());
            if (S_ISDIR(st->st_mode)) {
                line("d", st->st_mode, where, {});
                auto sub = openFolder(dirFd, name);
                if (!sub) return fail_with(sub.error());
                auto walked = walk(sub->get(), path);
                if (!walked) return walked;
            } else if (S_ISREG(st->st_mode)) {
                auto opened = openFile(dirFd, name, *st);
                if (!opened) return opened;
                line("f", st->st_mode, where, {});
            } else if (S_ISLNK(st->st_mode)) {
                auto target = readLinkAt(dirFd, name);
                if (!target) return fail_with(target.error());
                auto inside = checkLinkStaysInside(rootFd_, path, *target);
                if (!inside) return fail_with(inside.error());
                line("l", st->st_mode, where, escapeManifestText(*target));
            } else {
                return failure("neither file, folder nor link: " + where);
            }
        }
        return {};
    }

    // Opens the file now, to check it is the one the walk saw, and leaves
    // its digest to the next flush.
    Result<void> openFile(int dirFd, const std::string& name, const struct stat& seen) {
        base::UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (!fd) return failure("cannot open " + name, errno);
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || st.st_ino != seen.st_ino || st.st_dev != seen.st_dev)
            return failure("bundle changed while being read: " + name);
        sources_.push_back(PieceSource{fd.get(), static_cast<std::uint64_t>(st.st_size)});
        files_.push_back(PendingFile{std::move(fd), name, lines_.size()});
        return {};
    }

    // Lines wait until their files are hashed, all of them together.
    void line(const char* kind, mode_t mode, const std::string& path, const std::string& payload) {
        std::string text = std::string(kind) + " " + modeText(mode) + " " + escapeManifestText(path);
        if (!payload.empty()) text += " " + payload;
        lines_.push_back(std::move(text));
    }

    Result<void> flush() {
        auto digests = pieces_.digestAll(sources_);
        if (!digests) {
            const PieceFailure& failed = digests.error();
            PlatformError error{
                "posix", failed.error,
                std::string("cannot read: ") + std::strerror(failed.error) + " (" + files_[failed.source].name + ")"};
            clearPending();
            return fail_with(std::move(error));
        }
        for (std::size_t f = 0; f < files_.size(); ++f) lines_[files_[f].line] += " " + base::toHex((*digests)[f]);
        for (const std::string& text : lines_) hash_.update(text + "\n");
        clearPending();
        return {};
    }

    void clearPending() {
        lines_.clear();
        files_.clear();
        sources_.clear();
    }

    struct PendingFile {
        base::UniqueFd fd;
        std::string name;
        std::size_t line = 0;
    };

    int rootFd_;
    base::OpenSslSha256 hash_;
    PieceHasher pieces_;
    std::vector<std::string> lines_;
    std::vector<PendingFile> files_;
    std::vector<PieceSource> sources_;
};

}  // namespace

std::string escapeManifestText(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f || c == '%') {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", c);
            escaped += code;
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

Result<base::Sha256Digest> bundleManifestDigest(int bundleFd) { return ManifestWriter(bundleFd).run(); }

}  // namespace orbitreel::standins
