#include "base/error.h"

namespace orbitreel {

std::string Error::localizedDescription() const {
    if (auto* e = installError()) return e->message;
    return platformError()->description;
}

std::string Error::diagnostic() const {
    auto* e = installError();
    if (!e) return platformError()->description;
    std::string out = "message(\"";
    for (char c : e->message) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out += "\")";
    return out;
}

bool operator==(const Error& a, const Error& b) {
    if (auto* x = a.installError()) {
        auto* y = b.installError();
        return y && x->message == y->message;
    }
    auto* x = a.platformError();
    auto* y = b.platformError();
    return y && x->domain == y->domain && x->code == y->code && x->description == y->description;
}

}  // namespace orbitreel
