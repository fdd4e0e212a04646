#include "platform/linux/info_plist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QXmlStreamReader>
#include <cerrno>
#include <string>

#include "base/interrupted.h"
#include "base/unique_fd.h"

namespace orbitreel {

namespace {

// A real Info.plist holds a few KiB; a larger one is not worth reading.
constexpr std::size_t LargestInfoPlist = 1 << 20;

std::optional<BundleInfo> readOpened(const base::UniqueFd& fd) {
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string document;
    char buffer[16384];
    for (;;) {
        const ssize_t n = base::retryInterrupted([&] { return ::read(fd.get(), buffer, sizeof buffer); });
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        document.append(buffer, static_cast<std::size_t>(n));
        if (document.size() > LargestInfoPlist) return std::nullopt;
    }
    return parseInfoPlist(document);
}

}  // namespace

std::optional<BundleInfo> parseInfoPlist(std::string_view document) {
    QXmlStreamReader xml(QByteArray(document.data(), static_cast<qsizetype>(document.size())));

    // <plist><dict> key/value pairs </dict></plist>; only string values are
    // kept, other values are skipped whole.
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist")) return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict")) return std::nullopt;
    BundleInfo info;
    std::optional<std::string> key;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("key")) {
            key = xml.readElementText().toStdString();
        } else if (key && xml.name() == QLatin1String("string")) {
            info.strings[*key] = xml.readElementText().toStdString();
            key.reset();
        } else {
            xml.skipCurrentElement();
            key.reset();
        }
    }
    // The rest must be well-formed too: a document cut short or broken
    // after the dictionary is no property list.
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError()) return std::nullopt;
    if (auto id = info.string("CFBundleIdentifier")) info.identifier = *id;
    return info;
}

// Opened without blocking: a pipe in the file's place must not hold us.
std::optional<BundleInfo> readInfoPlist(const Path& plist) {
    return readOpened(base::UniqueFd(::open(plist.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)));
}

std::optional<BundleInfo> readInfoPlistAt(int folder, const char* name) {
    return readOpened(base::UniqueFd(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW)));
}

std::optional<BundleInfo> readInfoPlistOf(int bundle) {
    const base::UniqueFd contents(::openat(bundle, "Contents", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!contents) return std::nullopt;
    return readInfoPlistAt(contents.get(), "Info.plist");
}

}  // namespace orbitreel
