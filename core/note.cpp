#include "core/note.h"

#include "core/identity.h"
#include "platform/platform.h"

namespace orbitreel {

void note(const Platform& platform, const std::string& text) {
    Path folder = platform.environment->homeDirectory() / LogFolder;
    ignore(platform.files->createDirectories(folder));
    Path file = folder / LogFileName;
    std::string line = platform.environment->nowIso8601() + " " + text + "\n";

    auto appender = platform.files->openForWriting(file);
    if (appender) {
        ignore((*appender)->seekToEnd());
        ignore((*appender)->write(asBytes(line)));
        ignore((*appender)->close());
    } else {
        // Normally the file does not exist yet. Made only when nothing holds
        // its name: a link there is neither followed nor replaced.
        ignore(platform.files->create(file, asBytes(line)));
    }
}

}  // namespace orbitreel
