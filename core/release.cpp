#include "core/release.h"

#include <nlohmann/json.hpp>

#include <algorithm>

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

// 64 lowercase ASCII hexadecimal digits: the install compares the digest
// exactly with the lowercase one it computes, so capitals or fullwidth digits
// would pass here and fail every install.
bool isDigestText(const std::string& text) {
    return text.size() == 64 &&
           std::ranges::all_of(text, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
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
