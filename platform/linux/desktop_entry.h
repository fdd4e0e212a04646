#pragma once
// The desktop's launcher lists the applications that have a desktop entry.
// The installed copy gets one, so that the person finds it again once the
// installer is closed. Best effort: nothing here fails an install.

#include <optional>
#include <string>

#include "base/error.h"
#include "platform/bundles.h"

namespace orbitreel {

// The line that marks an entry as the installer's own: only such an entry is
// ever replaced.
inline constexpr const char* DesktopEntryMark = "X-OrbitreelInstaller-Written=true";

struct DesktopEntry {
    std::string name;
    Path executable;           // absolute
    std::optional<Path> icon;  // absolute; a PNG or SVG file
};

// The entry's text; absent when a path or the name cannot be written in one
// (not UTF-8, or a control character in it).
std::optional<std::string> desktopEntryText(const DesktopEntry& entry);

// The entry for the application at `bundle` (an absolute path) whose
// Info.plist is `info`; absent without a usable CFBundleExecutable. Looks at
// the icon file's first bytes.
std::optional<DesktopEntry> desktopEntryOf(const Path& bundle, const BundleInfo& info);

// "<bundle identifier>.desktop"; absent for an identifier that is no plain name.
std::optional<std::string> desktopEntryFileName(const BundleInfo& info);

// The person's own entries: $XDG_DATA_HOME/applications when that is an
// absolute path (`xdgDataHome` may be null), home/.local/share/applications
// otherwise.
Path desktopEntriesFolder(const Path& home, const char* xdgDataHome);

enum class EntryWrite { written, leftAlone, nothingToWrite };

// Puts `text` at folder/fileName whole or not at all, making the folder when
// it is missing. Replaces only an entry this installer wrote (a plain file of
// the person's own that holds the mark); anything else at that name, a link
// included, is left alone.
Result<EntryWrite> writeDesktopEntry(const Path& folder, const std::string& fileName, const std::string& text);

// The entry for the application at `bundle`, in the person's folder.
Result<EntryWrite> registerApplication(Bundles& bundles, const Path& bundle, const Path& home, const char* xdgDataHome);

}  // namespace orbitreel
