// Bundles on Linux: the same layout as on the Mac. The main bundle is found
// from /proc/self/exe, so a copy of the bundle anywhere finds its resources.

#include "platform/linux/linux_bundles.h"

#include <unistd.h>

#include <QFile>
#include <QXmlStreamReader>
#include <filesystem>
#include <system_error>

namespace orbitreel {

namespace {

bool isBundleLayout(const Path& executable) {
    Path macos = executable.parent_path();
    return macos.filename() == "MacOS" && macos.parent_path().filename() == "Contents";
}

// Skips the element the reader stands on, with everything inside it.
void skipElement(QXmlStreamReader& xml) { xml.skipCurrentElement(); }

class LinuxBundles : public Bundles {
public:
    Path mainBundlePath() override {
        std::error_code ec;
        Path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) return std::filesystem::current_path(ec);
        return bundleOfExecutable(executable);
    }

    std::optional<Path> mainBundleResource(const std::string& name, const std::string& extension) override {
        std::error_code ec;
        Path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) return std::nullopt;
        Path bundle = bundleOfExecutable(executable);
        Path resources = isBundleLayout(executable) ? bundle / "Contents/Resources" : bundle;
        Path candidate = resources / (name + "." + extension);
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) return std::nullopt;
        return candidate;
    }

    std::optional<BundleInfo> bundleAt(const Path& location) override {
        std::error_code ec;
        if (!std::filesystem::is_directory(location, ec)) return std::nullopt;
        return readInfoPlist(location / "Contents/Info.plist");
    }
};

}  // namespace

Path bundleOfExecutable(const Path& executable) {
    if (isBundleLayout(executable)) return executable.parent_path().parent_path().parent_path();
    return executable.parent_path();
}

std::optional<BundleInfo> readInfoPlist(const Path& plist) {
    QFile file(QString::fromStdString(plist.string()));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QXmlStreamReader xml(&file);

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
            skipElement(xml);
            key.reset();
        }
    }
    if (xml.hasError()) return std::nullopt;
    if (auto id = info.string("CFBundleIdentifier")) info.identifier = *id;
    return info;
}

std::unique_ptr<Bundles> makeLinuxBundles() { return std::make_unique<LinuxBundles>(); }

}  // namespace orbitreel
