// Feeds arbitrary bytes to codesign's readers: what comes before the first
// NUL is a signature file, what follows describes a bundle, one entry a line:
//   d PATH            a folder
//   f PATH CONTENT    a file
//   l PATH TARGET     a link
// The bundle is made (never through a link) and verified against the pinned
// key. Beyond not crashing: a signature file that parses is the one its
// parse would write; the manifest of a tree is the same twice; and when the
// manifest takes a tree, every link in it that the kernel can resolve stays
// inside the bundle.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/folder_entries.h"
#include "base/unique_fd.h"
#include "publisher_key.h"
#include "standins/codesign/bundle_manifest.h"
#include "standins/codesign/bundle_signing.h"
#include "standins/codesign/signature_file.h"
#include "standins/common/tree_rules.h"
#include "standins/hdiutil/folder_cursor.h"

namespace {

namespace fs = std::filesystem;
using namespace orbitreel::standins;

const fs::path& scratch() {
    static const fs::path folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/fuzz-bundle-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        // Something for a link that leaves the bundle to reach.
        fs::create_directory(fs::path(pattern) / "outside");
        return fs::path(pattern);
    }();
    return folder;
}

// Makes one described entry below the bundle; a line that names no usable
// entry is skipped.
void makeEntry(int bundleFd, FolderCursor& cursor, const std::string& line, std::vector<std::string>& links) {
    if (line.size() < 3 || line[1] != ' ') return;
    const std::string rest = line.substr(2);
    const auto space = rest.find(' ');
    const std::string where = rest.substr(0, space);
    const std::string payload = space == std::string::npos ? "" : rest.substr(space + 1);
    auto path = checkedEntryPath(where);
    if (!path || path->empty() || path->size() > 16) return;
    auto parent = cursor.open(*path, path->size() - 1);
    if (!parent) return;
    const char* name = path->back().c_str();
    switch (line[0]) {
        case 'd':
            ::mkdirat(*parent, name, 0755);
            break;
        case 'f': {
            orbitreel::base::UniqueFd fd(::openat(*parent, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
            if (fd) (void)!::write(fd.get(), payload.data(), payload.size());
            break;
        }
        case 'l':
            if (!payload.empty() && ::symlinkat(payload.c_str(), *parent, name) == 0) links.push_back(joinPath(*path));
            break;
        default:
            break;
    }
    (void)bundleFd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string signature(input.substr(0, split));
    const std::string description(split == std::string_view::npos ? "" : input.substr(split + 1));

    if (auto parsed = parseSignatureFile(signature)) {
        if (formatSignatureFile(*parsed) != signature) std::abort();
    }

    const fs::path bundle = scratch() / "Bundle.app";
    fs::remove_all(bundle);
    fs::create_directory(bundle);
    auto bundleFd = orbitreel::base::openFolderAtPath(bundle.string(), openingWords);
    if (!bundleFd) std::abort();
    std::vector<std::string> links;
    {
        FolderCursor cursor(bundleFd->get());
        std::istringstream lines(description);
        std::string line;
        for (int count = 0; count < 64 && std::getline(lines, line); ++count)
            makeEntry(bundleFd->get(), cursor, line, links);
    }
    // The signature where codesign looks for it, when the bundle has room.
    if (auto contents = orbitreel::base::openFolder(bundleFd->get(), "Contents", "Contents", openingWords)) {
        ::mkdirat(contents->get(), SignatureFolderName, 0755);
        if (auto folder =
                orbitreel::base::openFolder(contents->get(), SignatureFolderName, SignatureFolderName, openingWords)) {
            orbitreel::base::UniqueFd fd(
                ::openat(folder->get(), SignatureFileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
            if (fd) (void)!::write(fd.get(), signature.data(), signature.size());
        }
    }

    auto first = bundleManifestDigest(bundleFd->get());
    auto second = bundleManifestDigest(bundleFd->get());
    if (first.has_value() != second.has_value() || (first && *first != *second)) std::abort();
    if (first) {
        const fs::path inside = fs::canonical(bundle);
        for (const std::string& link : links) {
            char resolved[PATH_MAX];
            if (::realpath((bundle / link).c_str(), resolved) == nullptr) continue;
            const std::string reached = resolved;
            if (reached != inside.string() && !reached.starts_with(inside.string() + "/")) std::abort();
        }
    }
    (void)verifyBundle(bundle, orbitreel::PublisherKeyPem);
    return 0;
}
