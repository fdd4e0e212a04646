#include "tests/support/text_files.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orbitreel::test_support {

void writeText(const Path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readText(const Path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

}  // namespace orbitreel::test_support
