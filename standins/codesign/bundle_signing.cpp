#include "standins/codesign/bundle_signing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/folder_entries.h"
#include "standins/codesign/bundle_manifest.h"
#include "standins/codesign/ed25519_key.h"
#include "standins/codesign/signature_file.h"
#include "standins/common/tree_rules.h"

namespace orbitreel::standins {

namespace {

Result<base::UniqueFd> openSignatureFolder(int bundleFd, bool create) {
    auto contents = base::openFolder(bundleFd, "Contents", "Contents", openingWords);
    if (!contents) return failure("not a bundle: " + contents.error().localizedDescription());
    if (create && ::mkdirat(contents->get(), SignatureFolderName, 0755) != 0 && errno != EEXIST)
        return failure("cannot create the signature folder", errno);
    auto folder = base::openFolder(contents->get(), SignatureFolderName, std::string("Contents/") + SignatureFolderName,
                                   openingWords);
    if (!folder) return failure(create ? folder.error().localizedDescription() : "the bundle is not signed");
    return folder;
}

Result<std::string> readSignatureText(int folderFd) {
    base::UniqueFd fd(::openat(folderFd, SignatureFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return errno == ENOENT ? failure("the bundle is not signed") : failure("cannot read the signature", errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return failure("signature malformed: not a file");
    if (st.st_size > static_cast<off_t>(MaxSignatureFileBytes)) return failure("signature malformed: too large");
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    if (::read(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return failure("cannot read the signature", errno);
    return text;
}

}  // namespace

Result<void> signBundle(const std::filesystem::path& bundle, const std::filesystem::path& privateKeyPem) {
    auto key = loadPrivateKey(privateKeyPem);
    if (!key) return fail_with(key.error());
    auto id = keyId(key->get());
    if (!id) return fail_with(id.error());
    auto bundleFd = base::openFolderAtPath(bundle.string(), openingWords);
    if (!bundleFd) return fail_with(bundleFd.error());
    auto folder = openSignatureFolder(bundleFd->get(), true);
    if (!folder) return fail_with(folder.error());
    if (::unlinkat(folder->get(), SignatureFileName, 0) != 0 && errno != ENOENT)
        return failure("cannot replace the old signature", errno);

    auto digest = bundleManifestDigest(bundleFd->get());
    if (!digest) return fail_with(digest.error());
    auto signature = signMessage(key->get(), signedMessage(*digest));
    if (!signature) return fail_with(signature.error());

    const std::string text = formatSignatureFile(BundleSignature{*id, *signature});
    base::UniqueFd fd(
        ::openat(folder->get(), SignatureFileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd) return failure("cannot write the signature", errno);
    if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) || ::fsync(fd.get()) != 0)
        return failure("cannot write the signature", errno);
    return {};
}

Result<void> verifyBundle(const std::filesystem::path& bundle, std::string_view publisherKeyPem) {
    auto publisher = parsePublicKey(publisherKeyPem);
    if (!publisher) return failure("the pinned publisher key is unusable: " + publisher.error().localizedDescription());
    auto publisherId = keyId(publisher->get());
    if (!publisherId) return fail_with(publisherId.error());

    auto bundleFd = base::openFolderAtPath(bundle.string(), openingWords);
    if (!bundleFd) return fail_with(bundleFd.error());
    auto folder = openSignatureFolder(bundleFd->get(), false);
    if (!folder) return fail_with(folder.error());
    auto text = readSignatureText(folder->get());
    if (!text) return fail_with(text.error());
    auto signature = parseSignatureFile(*text);
    if (!signature) return fail_with(signature.error());
    if (signature->keyId != *publisherId)
        return failure("signed by another key than the publisher's: " + signature->keyId);

    auto digest = bundleManifestDigest(bundleFd->get());
    if (!digest) return fail_with(digest.error());
    if (!verifyMessage(publisher->get(), signedMessage(*digest), signature->signature))
        return failure("the bundle differs from what was signed");
    return {};
}

}  // namespace orbitreel::standins
