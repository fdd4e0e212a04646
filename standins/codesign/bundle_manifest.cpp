#include "standins/codesign/bundle_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/folder_entries.h"
#include "base/folder_walk.h"
#include "base/hex.h"
#include "base/unique_fd.h"
#include "standins/common/link_containment.h"
#include "standins/common/piece_digest.h"
#include "standins/common/tree_rules.h"

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

class ManifestWriter : public base::TreeVisitor {
public:
    explicit ManifestWriter(int rootFd) : rootFd_(rootFd) { hash_.update("orbitreel-bundle-manifest 1\n"); }

    Result<base::Sha256Digest> run() {
        struct stat st {};
        if (::fstat(rootFd_, &st) != 0) return failure("cannot inspect the bundle", errno);
        line("d", st.st_mode, ".", {});
        // The files waiting to be hashed come before whatever stopped the
        // walk, so their failures are the ones to report.
        auto walked = base::walkFolder(rootFd_, {}, ReadingTree, *this);
        auto flushed = flush();
        if (!flushed) return fail_with(flushed.error());
        if (!walked) return fail_with(walked.error());
        return hash_.finalize();
    }

    Result<bool> visit(const base::WalkItem& item) override {
        if (files_.size() >= MaxFilesPerFlush || lines_.size() >= MaxLinesPerFlush) {
            auto flushed = flush();
            if (!flushed) return fail_with(flushed.error());
        }
        const std::string& where = item.shown;
        if (where == SignaturePath) return false;
        const struct stat& st = item.status;
        if (S_ISDIR(st.st_mode)) {
            line("d", st.st_mode, where, {});
            return true;
        }
        if (S_ISREG(st.st_mode)) {
            auto opened = openFile(item.folder, item.name, st);
            if (!opened) return fail_with(opened.error());
            line("f", st.st_mode, where, {});
            return false;
        }
        if (!S_ISLNK(st.st_mode)) return failure("neither file, folder nor link: " + where);
        auto target = base::readLinkAt(item.folder, item.name, where, readingWords);
        if (!target) return fail_with(target.error());
        auto inside = checkLinkStaysInside(rootFd_, item.path, *target);
        if (!inside) return fail_with(inside.error());
        line("l", st.st_mode, where, escapeManifestText(*target));
        return false;
    }

private:
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
