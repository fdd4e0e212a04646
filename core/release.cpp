#include "core/release.h"

#include <nlohmann/json.hpp>

#include "core/texts.h"
#include "core/url.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

Failure decodingError(std::string_view detail) {
    return fail_with(PlatformError{"json", 1, texts::unreadableRelease(detail)});
}

// Decodes one required member in the manifest's order; the first missing, null
// or wrongly typed member ends the decoding.
template <class T>
Result<T> member(const nlohmann::json& object, const char* key);

template <>
Result<std::string> member<std::string>(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return decodingError(texts::missingField(key));
    if (!it->is_string()) return decodingError(texts::fieldNotText(key));
    return it->get<std::string>();
}

template <>
Result<std::int64_t> member<std::int64_t>(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return decodingError(texts::missingField(key));
    // Only a JSON integer that fits a signed 64-bit value.
    if (it->is_number_unsigned() && it->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
        return decodingError(texts::fieldTooLarge(key));
    if (!it->is_number_integer()) return decodingError(texts::fieldNotInteger(key));
    return it->get<std::int64_t>();
}

// Decodes one UTF-8 scalar at `i`, advancing it; nlohmann has already checked
// that the text is valid UTF-8.
char32_t nextScalar(const std::string& text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) return text[i++];
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t value = lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) value = (value << 6) | (byte(i + k) & 0x3F);
    i += extra + 1;
    return value;
}

bool isHexScalar(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'F') || (c >= U'a' && c <= U'f') ||
           (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF26) || (c >= 0xFF41 && c <= 0xFF46);
}

// 64 characters, each a hexadecimal digit (ASCII or fullwidth). A character
// made of several scalars is never a digit, so counting scalars gives the
// same verdict as counting characters.
bool isDigestText(const std::string& text) {
    std::size_t count = 0;
    std::size_t i = 0;
    bool allHex = true;
    while (i < text.size()) {
        char32_t c = nextScalar(text, i);
        ++count;
        if (allHex && !isHexScalar(c)) allHex = false;
    }
    return count == 64 && allHex;
}

// The version names one folder of the cache, so it may not leave it.
bool isSafeFolderName(const std::string& version) {
    return version.find('/') == std::string::npos && version.find('\0') == std::string::npos && version != "." &&
           version != "..";
}

// The path that is checked must be the path that is fetched: no "." or ".."
// segment that a client or server would resolve away.
bool hasDotSegment(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        auto segment = path.substr(start, end - start);
        if (segment == "." || segment == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

Result<Release> decodeRelease(const std::string& json) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(json);
    } catch (const nlohmann::json::exception& e) {
        return decodingError(texts::notJson(e.what()));
    }
    if (!document.is_object()) return decodingError(texts::NotJsonObject);

    Release release;
    auto version = member<std::string>(document, "version");
    if (!version) return fail_with(version.error());
    auto url = member<std::string>(document, "url");
    if (!url) return fail_with(url.error());
    auto sha256 = member<std::string>(document, "sha256");
    if (!sha256) return fail_with(sha256.error());
    auto bytes = member<std::int64_t>(document, "bytes");
    if (!bytes) return fail_with(bytes.error());
    return Release{std::move(*version), std::move(*url), std::move(*sha256), *bytes};
}

bool isReleaseUrl(const std::string& text, const std::string& version) {
    auto url = parseUrl(text);
    if (!url) return false;
    if (!isHttpsOnReleaseHost(*url)) return false;
    if (!url->path.starts_with("/downloads/Orbitreel-Mac-")) return false;
    if (!url->path.ends_with("-" + version + ".dmg")) return false;
    return !hasDotSegment(url->path);
}

Result<Release> validatedRelease(Release release) {
    auto invalid = [] { return fail_with(InstallError{texts::InvalidManifest}); };
    if (!isReleaseUrl(release.url, release.version) || !isSafeFolderName(release.version)) return invalid();
    if (!isDigestText(release.sha256)) return invalid();
    if (release.bytes <= 0) return invalid();
    if (release.bytes >= 2000000000) return invalid();
    return release;
}

Result<Release> checkedRelease(const Platform& platform) {
    auto location = platform.bundles->mainBundleResource("release", "json");
    if (!location) return fail_with(InstallError{texts::MissingManifest});
    auto data = platform.files->readAll(*location);
    if (!data) return fail_with(data.error());
    auto release = decodeRelease(std::string(data->begin(), data->end()));
    if (!release) return fail_with(release.error());
    return validatedRelease(std::move(*release));
}

}  // namespace orbitreel
