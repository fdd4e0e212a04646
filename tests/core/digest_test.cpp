// Streaming SHA-256 over real files, and a read that fails half-way.

#include <gtest/gtest.h>

#include <vector>

#include "core/digest.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/openssl_hashing.h"
#include "tests/support/faulty_files.h"
#include "tests/support/temporary_folder.h"

namespace orbitreel {
namespace {

using test_support::FileOperation;

class DigestTest : public ::testing::Test {
protected:
    Path make(const std::string& name, const Bytes& content) {
        Path file = folder.path() / name;
        EXPECT_TRUE(files->write(file, content, false));
        return file;
    }
    std::string oneShot(const Bytes& content) {
        auto sha = hashing->makeSha256();
        sha->update(content);
        auto bytes = sha->finalize();
        char text[65];
        for (int i = 0; i < 32; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
        return text;
    }

    test_support::TemporaryFolder folder;
    std::unique_ptr<Files> files = makeLinuxFiles();
    std::unique_ptr<Hashing> hashing = makeOpenSslHashing();
};

TEST_F(DigestTest, KnownVectorsAndEmptyFile) {
    EXPECT_EQ(digest(*files, *hashing, make("abc", {'a', 'b', 'c'})),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest(*files, *hashing, make("empty", {})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(DigestTest, ChunkBoundariesGiveTheOneShotDigest) {
    for (std::size_t size : {DigestChunkSize - 1, DigestChunkSize, DigestChunkSize + 1, 3 * DigestChunkSize + 7}) {
        Bytes content(size);
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<std::uint8_t>(i * 31 + (i >> 11));
        auto text = digest(*files, *hashing, make("f" + std::to_string(size), content));
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, oneShot(content)) << size;
        EXPECT_EQ(text->size(), 64u);
    }
}

TEST_F(DigestTest, MissingFileGivesTheOpenError) {
    auto text = digest(*files, *hashing, folder.path() / "nothing-here");
    ASSERT_FALSE(text);
    ASSERT_NE(text.error().platformError(), nullptr);
    EXPECT_EQ(text.error().platformError()->code, ENOENT);
}

TEST_F(DigestTest, ReadFailingHalfWayIsPassedOnUnchanged) {
    Bytes content(3 * DigestChunkSize, 7);
    Path file = make("big", content);
    test_support::FaultyFiles faulty(*files);
    int reads = 0;
    faulty.fault = [&](FileOperation op, const Path&, const Path&) -> std::optional<Error> {
        if (op == FileOperation::read && ++reads == 2) return test_support::FaultyFiles::injected("lectura rota");
        return std::nullopt;
    };
    auto text = digest(faulty, *hashing, file);
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error().localizedDescription(), "lectura rota");
    EXPECT_EQ(reads, 2) << "no read after the failing one";
}

}  // namespace
}  // namespace orbitreel
