#include "standins/common/relative_path.h"

namespace orbitreel::standins {

PathComponents splitPath(std::string_view path) {
    PathComponents components;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".") components.emplace_back(part);
        start = end + 1;
    }
    return components;
}

Result<PathComponents> checkedEntryPath(std::string_view path) {
    if (path.empty()) return failure("an entry without a name");
    if (path.front() == '/') return failure("absolute path refused: " + std::string(path));
    PathComponents components = splitPath(path);
    for (const std::string& part : components)
        if (part == "..") return failure("path with \"..\" refused: " + std::string(path));
    return components;
}

std::string joinPath(const PathComponents& components, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count && i < components.size(); ++i) {
        if (i > 0) path += '/';
        path += components[i];
    }
    return path;
}

}  // namespace orbitreel::standins
