#include "platform/linux/info_plist.h"

#include <QByteArray>
#include <QFile>
#include <QXmlStreamReader>
#include <string>

namespace orbitreel {

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

std::optional<BundleInfo> readInfoPlist(const Path& plist) {
    QFile file(QString::fromStdString(plist.string()));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray document = file.readAll();
    return parseInfoPlist(std::string_view(document.constData(), static_cast<std::size_t>(document.size())));
}

}  // namespace orbitreel
