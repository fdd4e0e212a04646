// The Linux stand-in for the system's disk-image tool, with the verbs the
// installer and release engineering use:
//   hdiutil verify IMAGE
//   hdiutil attach IMAGE -readonly -nobrowse -mountpoint DIR
//   hdiutil detach DIR
//   hdiutil create -srcfolder DIR IMAGE
// create honours SOURCE_DATE_EPOCH (seconds since 1970) for reproducible images.
// Exit status 0 on success, 1 on failure, 2 for a command line it does not take.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "standins/common/tool_main.h"
#include "standins/hdiutil/image_create.h"
#include "standins/hdiutil/image_mount.h"
#include "standins/hdiutil/image_verify.h"
#include "standins/hdiutil/source_date.h"

namespace {

using orbitreel::Result;

int usage(const std::string& problem) {
    std::fprintf(stderr,
                 "hdiutil: %s\n"
                 "usage: hdiutil verify IMAGE\n"
                 "       hdiutil attach IMAGE -readonly -nobrowse -mountpoint DIR\n"
                 "       hdiutil detach DIR\n"
                 "       hdiutil create -srcfolder DIR IMAGE\n",
                 problem.c_str());
    return 2;
}

// attach's options may come in any order, each once; all three are needed
// since the only attach there is is a private, read-only one.
std::optional<std::string> attachMountPoint(const std::vector<std::string>& options) {
    bool readOnly = false, noBrowse = false;
    std::optional<std::string> mountPoint;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i] == "-readonly" && !readOnly) {
            readOnly = true;
        } else if (options[i] == "-nobrowse" && !noBrowse) {
            noBrowse = true;
        } else if (options[i] == "-mountpoint" && !mountPoint && i + 1 < options.size()) {
            mountPoint = options[++i];
        } else {
            return std::nullopt;
        }
    }
    if (!readOnly || !noBrowse) return std::nullopt;
    return mountPoint;
}

int report(const std::string& verb, const Result<void>& outcome) {
    return outcome ? 0
                   : orbitreel::standins::reportFailure("hdiutil",
                                                        verb + " failed: " + outcome.error().localizedDescription());
}

// The verb's work; the exit status.
int run(const std::vector<std::string>& args) {
    using namespace orbitreel::standins;
    if (args.empty()) return usage("no verb given");
    const std::string& verb = args[0];
    if (verb == "verify") {
        if (args.size() != 2) return usage("verify takes one image");
        return report(verb, verifyImage(args[1]));
    }
    if (verb == "attach") {
        if (args.size() < 2) return usage("attach needs an image");
        auto mountPoint = attachMountPoint(std::vector<std::string>(args.begin() + 2, args.end()));
        if (!mountPoint) return usage("attach takes exactly -readonly, -nobrowse and -mountpoint DIR");
        return report(verb, attachImage(args[1], *mountPoint));
    }
    if (verb == "detach") {
        if (args.size() != 2) return usage("detach takes one mount point");
        return report(verb, detachImage(args[1]));
    }
    if (verb == "create") {
        if (args.size() != 4 || args[1] != "-srcfolder") return usage("create takes -srcfolder DIR IMAGE");
        auto sourceDate = sourceDateFromEnvironment();
        if (!sourceDate) return report(verb, fail_with(sourceDate.error()));
        return report(verb, createImage(args[2], args[3], *sourceDate));
    }
    return usage("unknown verb: " + verb);
}

}  // namespace

int main(int argc, char** argv) { return orbitreel::standins::toolMain("hdiutil", argc, argv, run); }
