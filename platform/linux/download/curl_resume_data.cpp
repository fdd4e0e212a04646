#include "platform/linux/download/curl_resume_data.h"

#include <nlohmann/json.hpp>

namespace orbitreel {

namespace {

constexpr const char* PartialPrefix = "download-";
constexpr const char* PartialSuffix = ".part";

bool isHeaderSafe(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace

bool isPartialName(const std::string& name) {
    const std::string prefix = PartialPrefix, suffix = PartialSuffix;
    if (name.size() <= prefix.size() + suffix.size()) return false;
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    for (char c : name.substr(prefix.size(), name.size() - prefix.size() - suffix.size())) {
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (!hex) return false;
    }
    return true;
}

Bytes encodeResumeData(const ResumeState& state) {
    nlohmann::json json = {
        {"format", ResumeDataFormat},   {"url", state.url}, {"bytes", state.bytes}, {"validator", state.validator},
        {"partial", state.partialName},
    };
    // Text that is not UTF-8 would make the library throw; it is carried
    // with replacement characters instead, and then simply matches nothing.
    std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

std::optional<ResumeState> decodeResumeData(const Bytes& blob) {
    nlohmann::json json = nlohmann::json::parse(blob.begin(), blob.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;

    auto format = json.find("format");
    if (format == json.end() || !format->is_number_integer() || format->get<std::int64_t>() != ResumeDataFormat)
        return std::nullopt;

    auto url = json.find("url");
    auto bytes = json.find("bytes");
    auto validator = json.find("validator");
    auto partial = json.find("partial");
    if (url == json.end() || !url->is_string()) return std::nullopt;
    if (bytes == json.end() || !bytes->is_number_integer()) return std::nullopt;
    if (validator == json.end() || !validator->is_string()) return std::nullopt;
    if (partial == json.end() || !partial->is_string()) return std::nullopt;

    ResumeState state{url->get<std::string>(), bytes->get<std::int64_t>(), validator->get<std::string>(),
                      partial->get<std::string>()};
    if (state.url.empty() || !isHeaderSafe(state.url)) return std::nullopt;
    if (state.bytes <= 0) return std::nullopt;
    // The validator goes into a request header as it is.
    if (state.validator.empty() || !isHeaderSafe(state.validator)) return std::nullopt;
    if (!isPartialName(state.partialName)) return std::nullopt;
    return state;
}

}  // namespace orbitreel
