#include "core/url.h"
#include "core/identity.h"

#include <cctype>

namespace orbitreel {

namespace {

bool isUnreserved(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(unsigned char c) {
    return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' || c == '+' || c == ',' ||
           c == ';' || c == '=';
}
int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Every character is allowed by `allowed`, or is the start of a %HH escape.
template <class Allowed>
bool wellFormed(std::string_view text, Allowed allowed) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            if (hexValue(static_cast<unsigned char>(text[i + 1])) < 0 ||
                hexValue(static_cast<unsigned char>(text[i + 2])) < 0)
                return false;
            i += 2;
        } else if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

bool pathChar(unsigned char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/'; }
bool queryChar(unsigned char c) { return pathChar(c) || c == '?'; }

std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            out.push_back(static_cast<char>(hexValue(static_cast<unsigned char>(text[i + 1])) * 16 +
                                            hexValue(static_cast<unsigned char>(text[i + 2]))));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool validHost(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        // An IP literal: hex digits, colons and dots inside brackets.
        if (host.size() < 3 || host.back() != ']') return false;
        for (char c : host.substr(1, host.size() - 2))
            if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.')) return false;
        return true;
    }
    return wellFormed(host, [](unsigned char c) { return isUnreserved(c) || isSubDelim(c); });
}

}  // namespace

std::optional<Url> parseUrl(std::string_view text) {
    Url url;
    std::string_view rest = text;

    // Fragment and query first: they end the path.
    if (auto hash = rest.find('#'); hash != std::string_view::npos) {
        if (!wellFormed(rest.substr(hash + 1), queryChar)) return std::nullopt;
        rest = rest.substr(0, hash);
    }
    if (auto question = rest.find('?'); question != std::string_view::npos) {
        if (!wellFormed(rest.substr(question + 1), queryChar)) return std::nullopt;
        rest = rest.substr(0, question);
    }

    // A scheme is letters, digits, '+', '-', '.', starting with a letter, before
    // the first ':' that comes before any '/'.
    auto colon = rest.find(':');
    auto slash = rest.find('/');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash) && colon > 0) {
        std::string_view scheme = rest.substr(0, colon);
        bool valid = std::isalpha(static_cast<unsigned char>(scheme.front()));
        for (char c : scheme)
            valid = valid && (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.');
        if (!valid) return std::nullopt;
        url.scheme = std::string(scheme);
        rest = rest.substr(colon + 1);
    } else if (colon == 0) {
        return std::nullopt;
    }

    if (rest.starts_with("//")) {
        rest = rest.substr(2);
        auto end = rest.find('/');
        std::string_view authority = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
        if (auto at = authority.rfind('@'); at != std::string_view::npos) {
            auto userinfo = authority.substr(0, at);
            if (!wellFormed(userinfo, [](unsigned char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; }))
                return std::nullopt;
            authority = authority.substr(at + 1);
        }
        std::string_view host = authority;
        auto portColon = authority.rfind(':');
        if (portColon != std::string_view::npos && authority.find(']', portColon) == std::string_view::npos) {
            host = authority.substr(0, portColon);
            for (char c : authority.substr(portColon + 1))
                if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        }
        if (!validHost(host)) return std::nullopt;
        if (!host.empty()) url.host = std::string(host);
    }

    if (!wellFormed(rest, pathChar)) return std::nullopt;
    url.path = percentDecoded(rest);
    return url;
}

bool isHttpsOnReleaseHost(const Url& url) {
    return url.scheme && *url.scheme == "https" && url.host && *url.host == ReleaseHost;
}

}  // namespace orbitreel
