// The Linux stand-in for the system's code-signing tool:
//   codesign --verify --deep --strict BUNDLE   checks the bundle against the
//                                              publisher key built in
//   codesign --sign KEYFILE BUNDLE             signs (release engineering)
// Exit status 0 on success, 1 on failure, 2 for a command line it does not take.

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "publisher_key.h"
#include "standins/codesign/bundle_signing.h"
#include "standins/common/tool_main.h"

namespace {

int usage(const std::string& problem) {
    std::fprintf(stderr,
                 "codesign: %s\n"
                 "usage: codesign --verify --deep --strict BUNDLE\n"
                 "       codesign --sign KEYFILE BUNDLE\n",
                 problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orbitreel::standins;
    return toolMain("codesign", argc, argv, [](const std::vector<std::string>& args) {
        if (args.size() == 3 && args[0] == "--sign") {
            auto signedBundle = signBundle(args[2], args[1]);
            return signedBundle
                       ? 0
                       : reportFailure("codesign", args[2] + ": " + signedBundle.error().localizedDescription());
        }
        // Verification is always deep and strict; the flags are required so
        // that a caller asking for less notices.
        if (args.size() == 4 && std::set<std::string>(args.begin(), args.begin() + 3) ==
                                    std::set<std::string>{"--verify", "--deep", "--strict"}) {
            auto verified = verifyBundle(args[3], orbitreel::PublisherKeyPem);
            return verified ? 0 : reportFailure("codesign", args[3] + ": " + verified.error().localizedDescription());
        }
        return usage(args.empty() ? "no operation given" : "unknown command line");
    });
}
