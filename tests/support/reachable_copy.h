#pragma once
// A copy of a program that another user can run. The build tree may lie in a
// folder only its owner can enter (a clone in /root, whose mode is 0700), so
// tests that run a program as another user run a copy kept in a 0755 folder
// of the system's temporary area, made once per test program.

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace orbitreel::test_support {

class ReachableFolder {
public:
    ReachableFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbitreel-reachable-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        if (::chmod(path_.c_str(), 0755) != 0) throw std::runtime_error("cannot open " + pattern + " to others");
    }
    ~ReachableFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ReachableFolder(const ReachableFolder&) = delete;
    ReachableFolder& operator=(const ReachableFolder&) = delete;

    // The program copied in (once), executable by everyone.
    std::filesystem::path copyOf(const std::filesystem::path& program) const {
        const auto copy = path_ / program.filename();
        if (!std::filesystem::exists(copy)) {
            std::filesystem::copy_file(program, copy);
            std::filesystem::permissions(copy, static_cast<std::filesystem::perms>(0755));
        }
        return copy;
    }

private:
    std::filesystem::path path_;
};

inline std::filesystem::path reachableCopy(const std::filesystem::path& program) {
    static ReachableFolder folder;
    return folder.copyOf(program);
}

}  // namespace orbitreel::test_support
