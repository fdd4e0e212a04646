// codesign: a signed bundle verifies, as it is, on an attached image and
// after ditto copied it; any change to it, or any other signer, fails.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

// A fresh Ed25519 key, not the publisher's.
void writeOtherKey(const fs::path& pem) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    ASSERT_NE(key, nullptr);
    FILE* out = std::fopen(pem.c_str(), "w");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr), 1);
    std::fclose(out);
    EVP_PKEY_free(key);
}

class CodesignBundle : public ::testing::Test {
protected:
    void SetUp() override {
        makeSampleBundle(signedBundle);
        ToolRun signing = runTool(Codesign, {"--sign", DevelopmentKey, signedBundle.string()});
        ASSERT_EQ(signing.status, 0) << signing.errors;
    }

    ToolRun verify(const fs::path& bundle) {
        return runTool(Codesign, {"--verify", "--deep", "--strict", bundle.string()});
    }

    // A fresh copy of the signed bundle to change.
    fs::path copy() {
        const fs::path bundle = dir / ("copy-" + std::to_string(++copies_) + ".app");
        fs::copy(signedBundle, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        return bundle;
    }

    TempDir dir;
    fs::path signedBundle = dir / "Orbitreel.app";
    int copies_ = 0;
};

TEST_F(CodesignBundle, TheSignedBundleVerifiesAsItIsAfterDittoAndOnAnAttachedImage) {
    ToolRun verified = verify(signedBundle);
    EXPECT_EQ(verified.status, 0) << verified.errors;

    const fs::path copied = dir / "Copied.app";
    ASSERT_EQ(runTool(Ditto, {signedBundle.string(), copied.string()}).status, 0);
    EXPECT_EQ(verify(copied).status, 0);

    fs::create_directories(dir / "source");
    fs::rename(copied, dir / "source" / "Orbitreel.app");
    const fs::path image = dir / "image.dmg", mount = dir / "mount";
    fs::create_directory(mount);
    ASSERT_EQ(runTool(Hdiutil, {"create", "-srcfolder", (dir / "source").string(), image.string()}).status, 0);
    ASSERT_EQ(
        runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()}).status,
        0);
    EXPECT_EQ(verify(mount / "Orbitreel.app").status, 0);

    // And the copy out of the read-only image, as the installer makes it.
    const fs::path staged = dir / ".Orbitreel-install-1.app";
    ASSERT_EQ(runTool(Ditto, {(mount / "Orbitreel.app").string(), staged.string()}).status, 0);
    EXPECT_EQ(verify(staged).status, 0);
    EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 0);
}

TEST_F(CodesignBundle, AnyChangeToTheBundleFailsVerification) {
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> changes = {
        {"one byte of the executable",
         [](const fs::path& b) { patchOnce(b / "Contents/MacOS/Orbitreel", "orbitreel", "orbitreeL"); }},
        {"one byte appended to a resource",
         [](const fs::path& b) { writeFile(b / "Contents/Info.plist", readFile(b / "Contents/Info.plist") + " "); }},
        {"a deep file emptied",
         [](const fs::path& b) { writeFile(b / "Contents/Frameworks/a/b/c/d/e/f/g/h/i/deep.txt", ""); }},
        {"a file added", [](const fs::path& b) { writeFile(b / "Contents/MacOS/helper", "", 0755); }},
        {"a file added beside the signature",
         [](const fs::path& b) { writeFile(b / "Contents/_CodeSignature/CodeResources", "x"); }},
        {"a folder added", [](const fs::path& b) { fs::create_directory(b / "Contents/PlugIns"); }},
        {"a file removed", [](const fs::path& b) { fs::remove(b / "Contents/Resources/Canción de prueba.txt"); }},
        {"a folder removed", [](const fs::path& b) { fs::remove(b / "Contents/Resources/Empty Folder"); }},
        {"a file renamed", [](const fs::path& b) { fs::rename(b / "Contents/Info.plist", b / "Contents/info.plist"); }},
        {"exec bit removed",
         [](const fs::path& b) { fs::permissions(b / "Contents/MacOS/Orbitreel", static_cast<fs::perms>(0644)); }},
        {"exec bit added",
         [](const fs::path& b) { fs::permissions(b / "Contents/Info.plist", static_cast<fs::perms>(0755)); }},
        {"set-id bit added",
         [](const fs::path& b) { fs::permissions(b / "Contents/MacOS/Orbitreel", static_cast<fs::perms>(04755)); }},
        {"read bit removed from a folder",
         [](const fs::path& b) { fs::permissions(b / "Contents/Resources", static_cast<fs::perms>(0311)); }},
        {"link target changed, still inside",
         [](const fs::path& b) {
             fs::remove(b / "Contents/Frameworks/Current");
             fs::create_symlink("a/b", b / "Contents/Frameworks/Current");
         }},
        {"link turned into a copy of its file",
         [](const fs::path& b) {
             fs::remove(b / "Contents/Resources/Info link");
             writeFile(b / "Contents/Resources/Info link", readFile(b / "Contents/Info.plist"));
         }},
        {"link pointed out of the bundle",
         [](const fs::path& b) {
             fs::remove(b / "Contents/Resources/Info link");
             fs::create_symlink("../../../outside", b / "Contents/Resources/Info link");
         }},
        {"a FIFO added", [](const fs::path& b) { ASSERT_EQ(::mkfifo((b / "Contents/pipe").c_str(), 0644), 0); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        const fs::path bundle = copy();
        ASSERT_EQ(verify(bundle).status, 0);
        change(bundle);
        ToolRun run = verify(bundle);
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(run.errors.empty());
    }
}

TEST_F(CodesignBundle, FilesLargerThanOnePieceAreCoveredWhole) {
    const std::size_t piece = 1 << 20;
    std::string large(2 * piece + piece / 2, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i >> 20) + i * 31);  // pieces differ
    const fs::path bundle = copy();
    writeFile(bundle / "Contents/Resources/large.bin", large);
    ASSERT_EQ(runTool(Codesign, {"--sign", DevelopmentKey, bundle.string()}).status, 0);
    ASSERT_EQ(verify(bundle).status, 0);

    std::string swapped = large.substr(piece, piece) + large.substr(0, piece) + large.substr(2 * piece);
    std::string lastPieceChanged = large;
    lastPieceChanged[2 * piece + 7] ^= 1;
    for (const std::string& content : {swapped, lastPieceChanged, large.substr(0, large.size() - 1), large + '\0'}) {
        writeFile(bundle / "Contents/Resources/large.bin", content);
        EXPECT_EQ(verify(bundle).status, 1);
    }
    writeFile(bundle / "Contents/Resources/large.bin", large);
    EXPECT_EQ(verify(bundle).status, 0);
}

std::string printed(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string modeText(mode_t mode) { return printed("%o", mode & (S_IFMT | 07555)); }

// What the manifest's header documents, computed apart from the tool: the
// SHA-256 of the SHA-256s of a file's 1 MiB pieces.
std::string pieceDigestHex(const std::string& content) {
    std::vector<unsigned char> pieces;
    for (std::size_t at = 0; at < content.size(); at += 1 << 20) {
        unsigned char piece[32];
        SHA256(reinterpret_cast<const unsigned char*>(content.data()) + at,
               std::min<std::size_t>(1 << 20, content.size() - at), piece);
        pieces.insert(pieces.end(), piece, piece + 32);
    }
    unsigned char whole[32];
    SHA256(pieces.data(), pieces.size(), whole);
    std::string hex;
    for (unsigned char byte : whole) hex += printed("%02x", byte);
    return hex;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) out += c <= 0x20 || c == 0x7f || c == '%' ? printed("%%%02X", c) : std::string(1, c);
    return out;
}

// Depth first, names sorted bytewise in each folder, the signature left out.
void manifestLines(const fs::path& root, const std::string& folder, std::string& manifest) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? root : root / folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder.empty() ? name : folder + "/" + name;
        if (path == "Contents/_CodeSignature/Signature") continue;
        struct stat st {};
        ASSERT_EQ(::lstat((root / path).c_str(), &st), 0);
        const std::string mode = modeText(st.st_mode);
        if (S_ISDIR(st.st_mode)) {
            manifest += "d " + mode + " " + escaped(path) + "\n";
            manifestLines(root, path, manifest);
        } else if (S_ISLNK(st.st_mode)) {
            manifest += "l " + mode + " " + escaped(path) + " " + escaped(fs::read_symlink(root / path)) + "\n";
        } else {
            manifest += "f " + mode + " " + escaped(path) + " " + pieceDigestHex(readFile(root / path)) + "\n";
        }
    }
}

// Files are hashed many at a time, their lines written afterwards: the
// signature must still be over each file's own digest on its own line, in
// walk order, across every batch, for empty, small and multi-piece files.
TEST_F(CodesignBundle, TheSignatureIsOverTheDocumentedManifestOfManyFiles) {
    const fs::path bundle = dir / "Many.app";
    fs::create_directories(bundle / "Contents/Resources/more files");
    for (int i = 0; i < 300; ++i) {
        const std::size_t size = i % 50 == 7 ? (1 << 20) * 2 + 5 : static_cast<std::size_t>(i * 37 % 4096);
        std::string content(size, '\0');
        for (std::size_t b = 0; b < size; ++b) content[b] = static_cast<char>(b * 131 + i);
        writeFile(bundle / "Contents" / (i % 3 == 0 ? "Resources/more files" : "Resources") /
                      printed("f%03u", static_cast<unsigned>(i)),
                  content, i % 4 == 0 ? 0755 : 0644);
    }
    fs::create_symlink("Resources/f001", bundle / "Contents/first");
    ASSERT_EQ(runTool(Codesign, {"--sign", DevelopmentKey, bundle.string()}).status, 0);

    std::string manifest = "orbitreel-bundle-manifest 1\n";
    struct stat st {};
    ASSERT_EQ(::stat(bundle.c_str(), &st), 0);
    manifest += "d " + modeText(st.st_mode) + " .\n";
    manifestLines(bundle, "", manifest);
    unsigned char manifestDigest[32];
    SHA256(reinterpret_cast<const unsigned char*>(manifest.data()), manifest.size(), manifestDigest);
    std::string message = "orbitreel-codesign 1\n" + std::string(reinterpret_cast<char*>(manifestDigest), 32);

    const std::string signatureFile = readFile(bundle / "Contents/_CodeSignature/Signature");
    const std::string hex = signatureFile.substr(signatureFile.find("ed25519 ") + 8, 128);
    std::vector<unsigned char> signature;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        signature.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    FILE* pem = std::fopen(DevelopmentKey.c_str(), "r");
    ASSERT_NE(pem, nullptr);
    EVP_PKEY* key = PEM_read_PrivateKey(pem, nullptr, nullptr, nullptr);
    std::fclose(pem);
    ASSERT_NE(key, nullptr);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ASSERT_EQ(EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, key), 1);
    EXPECT_EQ(EVP_DigestVerify(context, signature.data(), signature.size(),
                               reinterpret_cast<const unsigned char*>(message.data()), message.size()),
              1);
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    EXPECT_EQ(verify(bundle).status, 0);
}

TEST_F(CodesignBundle, WriteBitsAreNotPartOfTheSignature) {
    // An attached image shows the bundle without them, a copy gets them back.
    const fs::path bundle = copy();
    fs::permissions(bundle / "Contents/Info.plist", static_cast<fs::perms>(0664));
    fs::permissions(bundle / "Contents/MacOS", static_cast<fs::perms>(0555));
    EXPECT_EQ(verify(bundle).status, 0);
}

TEST_F(CodesignBundle, MissingMalformedOrForeignSignaturesFail) {
    const fs::path signature = "Contents/_CodeSignature/Signature";
    const std::string genuine = readFile(signedBundle / signature);
    const fs::path otherKey = dir / "other.pem";
    writeOtherKey(otherKey);

    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> cases = {
        {"signed by another key",
         [&](const fs::path& b) {
             ASSERT_EQ(runTool(Codesign, {"--sign", otherKey.string(), b.string()}).status, 0);
         }},
        {"another key's signature under the publisher's key name",
         [&](const fs::path& b) {
             ASSERT_EQ(runTool(Codesign, {"--sign", otherKey.string(), b.string()}).status, 0);
             const std::string foreign = readFile(b / signature);
             writeFile(b / signature,
                       genuine.substr(0, genuine.find("ed25519")) + foreign.substr(foreign.find("ed25519")));
         }},
        {"no signature file", [&](const fs::path& b) { fs::remove(b / signature); }},
        {"no signature folder", [&](const fs::path& b) { fs::remove_all(b / "Contents/_CodeSignature"); }},
        {"empty signature", [&](const fs::path& b) { writeFile(b / signature, ""); }},
        {"truncated signature",
         [&](const fs::path& b) { writeFile(b / signature, genuine.substr(0, genuine.size() - 2) + "\n"); }},
        {"one digit changed",
         [&](const fs::path& b) {
             std::string changed = genuine;
             char& digit = changed[changed.size() - 2];
             digit = digit == '0' ? '1' : '0';
             writeFile(b / signature, changed);
         }},
        {"not hexadecimal",
         [&](const fs::path& b) { writeFile(b / signature, genuine.substr(0, genuine.size() - 3) + "zz\n"); }},
        {"a line appended", [&](const fs::path& b) { writeFile(b / signature, genuine + "extra\n"); }},
        {"huge", [&](const fs::path& b) { writeFile(b / signature, genuine + std::string(100000, '\n')); }},
        {"a link to a genuine signature",
         [&](const fs::path& b) {
             writeFile(dir / "elsewhere", genuine);
             fs::remove(b / signature);
             fs::create_symlink(dir / "elsewhere", b / signature);
         }},
        {"a folder in its place",
         [&](const fs::path& b) {
             fs::remove(b / signature);
             fs::create_directory(b / signature);
         }},
    };
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        const fs::path bundle = copy();
        change(bundle);
        ToolRun run = verify(bundle);
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(run.errors.empty());
    }
    EXPECT_EQ(verify(dir / "missing.app").status, 1);
}

TEST_F(CodesignBundle, SigningRefusesBundlesThatCouldNeverVerify) {
    const fs::path bundle = copy();
    fs::create_symlink("/etc", bundle / "Contents/Resources/system");
    EXPECT_EQ(runTool(Codesign, {"--sign", DevelopmentKey, bundle.string()}).status, 1);
    EXPECT_EQ(runTool(Codesign, {"--sign", (dir / "no-key.pem").string(), copy().string()}).status, 1);
    EXPECT_EQ(runTool(Codesign, {"--sign", DevelopmentKey, (dir / "NotABundle").string()}).status, 1);
}

TEST(CodesignCommandLine, RefusesWhatItDoesNotKnow) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"--verify", "x.app"},
        {"--verify", "--deep", "x.app"},
        {"--verify", "--strict", "--strict", "x.app"},
        {"--verify", "--deep", "--strict", "x.app", "y.app"},
        {"-v", "--deep", "--strict", "x.app"},
        {"--sign", "x.app"},
        {"--display", "x.app"},
    };
    for (const auto& arguments : wrong) {
        ToolRun run = runTool(Codesign, arguments);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
        EXPECT_NE(run.errors.find("usage"), std::string::npos);
    }
}

}  // namespace
}  // namespace orbitreel::standins::test_support
