#include "tests/support/temporary_home.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/linux/linux_environment.h"

namespace orbitreel::test_support {

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orbitreel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ec;
    // Tests may leave read-only folders behind (mounted image contents).
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

HomeEnvironment::HomeEnvironment(Path home, Path temporary)
    : home_(std::move(home)), temporary_(std::move(temporary)), real_(makeLinuxEnvironment()) {}

std::string HomeEnvironment::newUuid() { return real_->newUuid(); }
std::string HomeEnvironment::nowIso8601() { return real_->nowIso8601(); }

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
