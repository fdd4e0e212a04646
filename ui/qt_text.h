#pragma once
// The program's texts are UTF-8 in standard strings; Qt's views take QString.

#include <QString>
#include <string_view>

namespace orbitreel {

inline QString qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace orbitreel
