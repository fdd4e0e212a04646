// The Info.plist inside a downloaded image, read before the image's signature
// is checked: any bytes at all. What the reader accepts must be a well-formed
// document, and what it keeps must read back the same once written out again.

#include <QByteArray>
#include <QXmlStreamReader>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/invariant.h"
#include "platform/linux/info_plist.h"

namespace {

using orbitreel::fuzz::require;

bool wellFormed(std::string_view document) {
    QXmlStreamReader xml(QByteArray(document.data(), static_cast<qsizetype>(document.size())));
    while (!xml.atEnd()) xml.readNext();
    return !xml.hasError();
}

std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c < 0x20) out += "&#" + std::to_string(c) + ";";
        else out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view document(reinterpret_cast<const char*>(data), size);
    auto info = orbitreel::parseInfoPlist(document);
    if (!info) return 0;

    require(wellFormed(document), "an accepted plist is well-formed to its end");
    require(info->identifier == info->string("CFBundleIdentifier"), "the identifier is the plist's own entry");

    std::string written = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n";
    for (const auto& [key, value] : info->strings)
        written += "<key>" + escaped(key) + "</key><string>" + escaped(value) + "</string>\n";
    written += "</dict></plist>\n";
    auto again = orbitreel::parseInfoPlist(written);
    require(again.has_value() && again->strings == info->strings, "what was kept reads back the same");
    return 0;
}
