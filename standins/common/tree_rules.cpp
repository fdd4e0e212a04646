#include "standins/common/tree_rules.h"

#include <cerrno>

#include "standins/common/failure.h"

namespace orbitreel::standins {

namespace {

// The walk stops with ENAMETOOLONG past the bound; no other step of it fails
// so, as names read from a folder and a link's target are short enough.
Error worded(const std::string& what, int code, const std::string& shown) {
    if (code == ENAMETOOLONG)
        return failure("tree nested deeper than " + std::to_string(MaxTreeDepth) + " names: " + shown).error();
    return failure(what + " " + shown, code).error();
}

}  // namespace

Error readingWords(int code, const std::string& shown) { return worded("cannot read", code, shown); }

Error removalWords(int code, const std::string& shown) { return worded("cannot remove", code, shown); }

Error openingWords(int code, const std::string& shown) { return failure("cannot open folder " + shown, code).error(); }

}  // namespace orbitreel::standins
