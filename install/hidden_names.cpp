#include "install/hidden_names.h"

namespace orbitreel {

namespace {

constexpr std::size_t UuidLength = 36;

bool isUuidText(std::string_view text) {
    if (text.size() != UuidLength) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string hiddenName(std::string_view prefix, const std::string& uuid, std::string_view suffix) {
    return std::string(prefix) + uuid + std::string(suffix);
}

bool isHiddenName(std::string_view name, std::string_view prefix, std::string_view suffix) {
    if (name.size() != prefix.size() + UuidLength + suffix.size()) return false;
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) return false;
    return isUuidText(name.substr(prefix.size(), UuidLength));
}

}  // namespace orbitreel
