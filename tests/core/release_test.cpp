// The manifest: decoding, validation and loading from the bundle.

#include <gtest/gtest.h>

#include <cctype>
#include <utility>
#include <vector>

#include "core/release.h"

namespace orbitreel {
namespace {

const std::string Good64 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string manifest(const std::string& version, const std::string& url, const std::string& sha = Good64,
                     const std::string& bytes = "48213405", const std::string& extra = "") {
    return "{\"version\":\"" + version + "\",\"url\":\"" + url + "\",\"sha256\":\"" + sha + "\",\"bytes\":" + bytes +
           extra + "}";
}
std::string urlFor(const std::string& version) {
    return "https://orbitreel.app/downloads/Orbitreel-Mac-" + version + ".dmg";
}

enum class Outcome { Valid, Invalid, DecodingError };

struct Case {
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }
    const char* what;
    std::string json;
    Outcome expected;
};

class ManifestTable : public ::testing::TestWithParam<Case> {};

TEST_P(ManifestTable, DecodesAndValidatesAsExpected) {
    const Case& c = GetParam();
    auto decoded = decodeRelease(c.json);
    if (c.expected == Outcome::DecodingError) {
        ASSERT_FALSE(decoded) << c.what;
        EXPECT_FALSE(decoded.error().isInstallError()) << c.what;
        EXPECT_FALSE(decoded.error().localizedDescription().empty());
        return;
    }
    ASSERT_TRUE(decoded) << c.what << ": " << decoded.error().localizedDescription();
    auto validated = validatedRelease(*decoded);
    if (c.expected == Outcome::Valid) {
        ASSERT_TRUE(validated) << c.what << ": " << validated.error().localizedDescription();
        EXPECT_EQ(*validated, *decoded) << "fields are returned exactly as decoded";
    } else {
        ASSERT_FALSE(validated) << c.what;
        ASSERT_TRUE(validated.error().isInstallError());
        EXPECT_EQ(validated.error().localizedDescription(), "La información del instalador no es válida.") << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, ManifestTable,
    ::testing::Values(
        Case{"plain valid manifest", manifest("1.4.2", urlFor("1.4.2")), Outcome::Valid},
        Case{"extra member ignored", manifest("1.4.2", urlFor("1.4.2"), Good64, "1", ",\"notes\":\"hola\""),
             Outcome::Valid},
        Case{"largest size", manifest("1.4.2", urlFor("1.4.2"), Good64, "1999999999"), Outcome::Valid},
        Case{"size at the bound", manifest("1.4.2", urlFor("1.4.2"), Good64, "2000000000"), Outcome::Invalid},
        Case{"size zero", manifest("1.4.2", urlFor("1.4.2"), Good64, "0"), Outcome::Invalid},
        Case{"negative size", manifest("1.4.2", urlFor("1.4.2"), Good64, "-5"), Outcome::Invalid},
        Case{"plain http", manifest("1.4.2", "http://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"scheme in capitals", manifest("1.4.2", "HTTPS://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"host in capitals", manifest("1.4.2", "https://Orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"sub-domain", manifest("1.4.2", "https://cdn.orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"other host", manifest("1.4.2", "https://orbitreel.app.evil.example/downloads/Orbitreel-Mac-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"no URL at all", manifest("1.4.2", "not a url"), Outcome::Invalid},
        Case{"other version in file name", manifest("1.4.2", urlFor("1.4.3")), Outcome::Invalid},
        Case{"other extension", manifest("1.4.2", "https://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.zip"),
             Outcome::Invalid},
        Case{"other folder", manifest("1.4.2", "https://orbitreel.app/files/Orbitreel-Mac-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"port, query and fragment pass",
             manifest("1.4.2", "https://orbitreel.app:8443/downloads/Orbitreel-Mac-1.4.2.dmg?x=1#top"), Outcome::Valid},
        Case{"path compared decoded", manifest("1.4.2", "https://orbitreel.app/downloads/Orbitreel%2DMac-1.4.2.dmg"),
             Outcome::Valid},
        Case{"dot-dot segment", manifest("1.4.2", "https://orbitreel.app/downloads/Orbitreel-Mac-x/../../-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"encoded dot-dot segment",
             manifest("1.4.2", "https://orbitreel.app/downloads/Orbitreel-Mac-x/%2E%2E/-1.4.2.dmg"), Outcome::Invalid},
        Case{"single-dot segment", manifest("1.4.2", "https://orbitreel.app/downloads/Orbitreel-Mac-a/./-1.4.2.dmg"),
             Outcome::Invalid},
        Case{"version with a slash", manifest("a/b", urlFor("a/b")), Outcome::Invalid},
        Case{"version '..'", manifest("..", urlFor("..")), Outcome::Invalid},
        Case{"version '.'", manifest(".", urlFor(".")), Outcome::Invalid},
        Case{"version with NUL", manifest("1\\u0000", "https://orbitreel.app/downloads/Orbitreel-Mac-1%00.dmg"),
             Outcome::Invalid},
        Case{"empty version", manifest("", "https://orbitreel.app/downloads/Orbitreel-Mac-.dmg"), Outcome::Valid},
        Case{"empty version needs the hyphen", manifest("", "https://orbitreel.app/downloads/Orbitreel-Mac.dmg"),
             Outcome::Invalid},
        Case{"63 digits", manifest("1.4.2", urlFor("1.4.2"), Good64.substr(1)), Outcome::Invalid},
        Case{"65 digits", manifest("1.4.2", urlFor("1.4.2"), Good64 + "0"), Outcome::Invalid},
        Case{"letter beyond f", manifest("1.4.2", urlFor("1.4.2"), "g" + Good64.substr(1)), Outcome::Invalid},
        Case{"combining mark is not a digit", manifest("1.4.2", urlFor("1.4.2"), Good64.substr(1) + "a\u0301"),
             Outcome::Invalid},
        Case{"bytes missing", "{\"version\":\"1\",\"url\":\"" + urlFor("1") + "\",\"sha256\":\"" + Good64 + "\"}",
             Outcome::DecodingError},
        Case{"bytes as text", manifest("1.4.2", urlFor("1.4.2"), Good64, "\"12\""), Outcome::DecodingError},
        Case{"bytes as fraction", manifest("1.4.2", urlFor("1.4.2"), Good64, "12.5"), Outcome::DecodingError},
        Case{"bytes beyond 64 bits", manifest("1.4.2", urlFor("1.4.2"), Good64, "9223372036854775808"),
             Outcome::DecodingError},
        Case{"null version", "{\"version\":null,\"url\":\"x\",\"sha256\":\"y\",\"bytes\":1}", Outcome::DecodingError},
        Case{"key case matters", "{\"Version\":\"1\",\"url\":\"x\",\"sha256\":\"y\",\"bytes\":1}",
             Outcome::DecodingError},
        Case{"not an object", "[1,2,3]", Outcome::DecodingError},
        Case{"not JSON", "version: 1.4.2", Outcome::DecodingError}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c)
            name.push_back(std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_');
        return name;
    });

TEST(ManifestValidation, TakesTheDigestOnlyInLowercaseAsciiDigits) {
    // Each is 64 characters that a fold to lowercase ASCII would accept; the
    // install compares with the lowercase digest it computes, so none could
    // ever install.
    const std::string Fullwidth = "ＡＢＣＤＥＦ０１２３４５６７８９ａｂｃｄｅｆ";  // 22 fullwidth digits
    const std::vector<std::pair<const char*, std::string>> digests{
        {"all capitals", std::string(64, 'A')},
        {"the good digest in capitals", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"one capital", Good64.substr(0, 63) + "D"},
        {"fullwidth digits", Fullwidth + Fullwidth + std::string(20, 'a')},
        {"one fullwidth digit", Good64.substr(0, 63) + "ｄ"},
    };
    for (const auto& [what, digest] : digests) {
        auto decoded = decodeRelease(manifest("1.4.2", urlFor("1.4.2"), digest));
        ASSERT_TRUE(decoded) << what;
        auto validated = validatedRelease(*decoded);
        ASSERT_FALSE(validated) << what;
        ASSERT_TRUE(validated.error().isInstallError()) << what;
        EXPECT_EQ(validated.error().localizedDescription(), "La información del instalador no es válida.") << what;
    }
}

TEST(ManifestDecoding, ReportsTheFirstBadMemberInOrder) {
    // Both "url" and "bytes" are wrong; "url" comes first.
    auto decoded = decodeRelease("{\"version\":\"1\",\"url\":5,\"sha256\":\"x\",\"bytes\":\"y\"}");
    ASSERT_FALSE(decoded);
    EXPECT_NE(decoded.error().localizedDescription().find("\"url\""), std::string::npos);
}

}  // namespace
}  // namespace orbitreel
