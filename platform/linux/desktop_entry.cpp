#include "platform/linux/desktop_entry.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArrayView>
#include <array>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "base/interrupted.h"
#include "base/own_item.h"
#include "base/unique_fd.h"
#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {

// Far larger than any entry we write; a bigger file is not ours.
constexpr off_t MaxEntryBytes = 64 * 1024;

// Text the file format can carry as it is: UTF-8 without control characters
// (a line break would end the value).
bool writable(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return QByteArrayView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8();
}

bool blank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// A file name inside a folder: no separator, not a walk up.
bool plainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos && writable(name);
}

// The general escaping of a value; the rest is refused by `writable`.
std::string escapedValue(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// One argument of Exec: in double quotes, with the four characters that stay
// special there escaped, and a literal percent sign doubled so that it is no
// field code.
std::string execArgument(std::string_view argument) {
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

// The program is started directly, except when its path holds a percent
// sign: GLib looks for the program before it turns "%%" back into "%", finds
// nothing and refuses the whole entry. The shell then starts it from an
// argument, which gets the usual expansion.
std::string execLine(std::string_view executable) {
    if (executable.find('%') == std::string_view::npos) return execArgument(executable);
    return "/bin/sh -c " + execArgument("exec \"$0\"") + " " + execArgument(executable);
}

// Reads up to `limit` bytes from the start of an open file.
std::string readHead(int fd, std::size_t limit) {
    std::string bytes(limit, '\0');
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = base::retryInterrupted([&] { return ::read(fd, bytes.data() + got, limit - got); });
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

// Launchers draw PNG and SVG from a path; the content decides, not the name.
bool isPngOrSvg(std::string_view head) {
    if (head.starts_with("\x89PNG\r\n\x1a\n")) return true;
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    const auto start = head.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && head[start] == '<' && head.find("<svg") != std::string_view::npos;
}

std::optional<Path> usableIcon(const Path& bundle, const BundleInfo& info) {
    auto name = info.string("CFBundleIconFile");
    if (!name || !plainName(*name)) return std::nullopt;
    const Path icon = bundle / "Contents/Resources" / *name;
    const base::UniqueFd fd(::open(icon.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (!isPngOrSvg(readHead(fd.get(), 1024))) return std::nullopt;
    return icon;
}

bool holdsMark(const std::string& text) {
    return ("\n" + text + "\n").find(std::string("\n") + DesktopEntryMark + "\n") != std::string::npos;
}

enum class AtName { nothing, ours, other };

// What the name holds now, read without following a link.
Result<AtName> entryAt(int folder, const std::string& name) {
    const base::UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return AtName::nothing;
        if (errno == ELOOP) return AtName::other;
        return fail_with(posixError(errno, name));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return fail_with(posixError(errno, name));
    if (!S_ISREG(st.st_mode) || !base::isPersonsOwn(st) || st.st_size > MaxEntryBytes) return AtName::other;
    return holdsMark(readHead(fd.get(), static_cast<std::size_t>(st.st_size))) ? AtName::ours : AtName::other;
}

// The folder and each missing parent, private, as desktops expect of the
// user's data folders.
Result<void> makeFolders(const Path& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return {};
    if (folder.has_relative_path()) {
        if (auto parent = makeFolders(folder.parent_path()); !parent) return parent;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return fail_with(posixError(errno, folder));
    return {};
}

std::string temporaryName(const std::string& fileName) {
    std::array<unsigned char, 8> random{};
    if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
        random.fill(0);  // O_EXCL still keeps a clash from doing harm
    }
    std::string name = "." + fileName + ".";
    char hex[3];
    for (unsigned char byte : random) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        name += hex;
    }
    return name;
}

Result<void> writeAll(int fd, std::string_view text, const std::string& name) {
    while (!text.empty()) {
        const ssize_t n = base::retryInterrupted([&] { return ::write(fd, text.data(), text.size()); });
        if (n < 0) return fail_with(posixError(errno, name));
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// A new file beside the entry with the whole text on disk.
Result<std::string> writeTemporary(int folder, const std::string& fileName, const std::string& text) {
    const std::string name = temporaryName(fileName);
    base::UniqueFd fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd) return fail_with(posixError(errno, name));
    auto written = writeAll(fd.get(), text, name);
    if (written && ::fsync(fd.get()) != 0) written = fail_with(posixError(errno, name));
    if (written && ::close(fd.release()) != 0) written = fail_with(posixError(errno, name));
    if (!written) {
        ::unlinkat(folder, name.c_str(), 0);
        return fail_with(written.error());
    }
    return name;
}

}  // namespace

std::optional<std::string> desktopEntryText(const DesktopEntry& entry) {
    const std::string executable = entry.executable.string();
    if (!entry.executable.is_absolute() || !writable(executable) || !writable(entry.name) || blank(entry.name))
        return std::nullopt;
    std::string text = "[Desktop Entry]\nType=Application\n";
    text += "Name=" + escapedValue(entry.name) + "\n";
    text += "Exec=" + escapedValue(execLine(executable)) + "\n";
    // Launchers hide the entry once the copy is gone.
    text += "TryExec=" + escapedValue(executable) + "\n";
    if (entry.icon && entry.icon->is_absolute() && writable(entry.icon->string()))
        text += "Icon=" + escapedValue(entry.icon->string()) + "\n";
    text += "Terminal=false\n";
    text += std::string(DesktopEntryMark) + "\n";
    return text;
}

std::optional<DesktopEntry> desktopEntryOf(const Path& bundle, const BundleInfo& info) {
    auto executable = info.string("CFBundleExecutable");
    if (!executable || !plainName(*executable)) return std::nullopt;
    DesktopEntry entry;
    // The name the folder shows when the Info.plist gives none.
    entry.name = bundle.stem().string();
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        auto name = info.string(key);
        if (!name || !writable(*name) || blank(*name)) continue;
        entry.name = *name;
        break;
    }
    entry.executable = bundle / "Contents/MacOS" / *executable;
    entry.icon = usableIcon(bundle, info);
    return entry;
}

std::optional<std::string> desktopEntryFileName(const BundleInfo& info) {
    if (!info.identifier || info.identifier->empty() || info.identifier->front() == '.') return std::nullopt;
    for (char c : *info.identifier) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (!plain) return std::nullopt;
    }
    return *info.identifier + ".desktop";
}

Path desktopEntriesFolder(const Path& home, const char* xdgDataHome) {
    if (xdgDataHome && Path(xdgDataHome).is_absolute()) return Path(xdgDataHome) / "applications";
    return home / ".local/share/applications";
}

Result<EntryWrite> writeDesktopEntry(const Path& folder, const std::string& fileName, const std::string& text) {
    if (auto made = makeFolders(folder); !made) return fail_with(made.error());
    const base::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return fail_with(posixError(errno, folder));

    auto before = entryAt(dir.get(), fileName);
    if (!before) return fail_with(before.error());
    if (*before == AtName::other) return EntryWrite::leftAlone;

    auto temporary = writeTemporary(dir.get(), fileName, text);
    if (!temporary) return fail_with(temporary.error());
    // A rename replaces a link rather than following it, so the name was
    // checked above; where it held nothing, nothing may appear meanwhile.
    const unsigned flags = *before == AtName::nothing ? RENAME_NOREPLACE : 0;
    if (::renameat2(dir.get(), temporary->c_str(), dir.get(), fileName.c_str(), flags) != 0) {
        const int error = errno;
        ::unlinkat(dir.get(), temporary->c_str(), 0);
        if (error == EEXIST) return EntryWrite::leftAlone;
        return fail_with(posixError(error, folder / fileName));
    }
    // The rename itself on disk; an entry that is lost to a crash is written
    // again by the next install.
    ::fsync(dir.get());
    return EntryWrite::written;
}

Result<EntryWrite> registerApplication(Bundles& bundles, const Path& bundle, const Path& home,
                                       const char* xdgDataHome) {
    auto info = bundles.bundleAt(bundle);
    if (!info) return EntryWrite::nothingToWrite;
    auto fileName = desktopEntryFileName(*info);
    auto entry = desktopEntryOf(bundle, *info);
    auto text = entry ? desktopEntryText(*entry) : std::nullopt;
    if (!fileName || !text) return EntryWrite::nothingToWrite;
    return writeDesktopEntry(desktopEntriesFolder(home, xdgDataHome), *fileName, *text);
}

}  // namespace orbitreel
