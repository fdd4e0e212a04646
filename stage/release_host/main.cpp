// The release host as a program, for the demo:
//   release_host certificates FOLDER NAME...
//       makes a test authority and a certificate for NAME... in FOLDER
//   release_host serve PORT CERTIFICATE KEY FOLDER
//       serves every file under FOLDER at its path over HTTPS on 127.0.0.1:PORT

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "stage/release_host/release_host.h"

namespace fs = std::filesystem;
using namespace orbitreel::release_host;

namespace {

int usage() {
    std::cerr << "usage: release_host certificates FOLDER NAME...\n"
                 "       release_host serve PORT CERTIFICATE KEY FOLDER\n";
    return 2;
}

// A file read on demand; its validator follows its size and modification time.
Entity fileEntity(const fs::path& path) {
    struct stat info {};
    auto fd = std::shared_ptr<int>(new int(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), [](int* p) {
        if (*p >= 0) ::close(*p);
        delete p;
    });
    if (*fd < 0 || ::fstat(*fd, &info) != 0) throw std::runtime_error("cannot read " + path.string());
    Entity entity;
    entity.size = static_cast<std::uint64_t>(info.st_size);
    entity.etag = "\"" + std::to_string(info.st_size) + "-" + std::to_string(info.st_mtim.tv_sec) + "\"";
    entity.fill = [fd](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::pread(*fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (n <= 0) throw std::runtime_error("short read");
            done += static_cast<std::size_t>(n);
        }
    };
    return entity;
}

int serve(int port, const fs::path& certificate, const fs::path& key, const fs::path& folder) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before the server's threads exist

    Server server(Certificates{{}, certificate, key}, port);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::string path = "/" + fs::relative(entry.path(), folder).generic_string();
        server.serve(path, fileEntity(entry.path()));
        std::cout << "serving " << path << "\n";
    }
    std::cout << "listening on 127.0.0.1:" << server.port() << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() >= 3 && args[0] == "certificates") {
            auto made = makeCertificates(args[1], std::vector<std::string>(args.begin() + 2, args.end()), 30);
            std::cout << made.authority.string() << "\n"
                      << made.certificate.string() << "\n"
                      << made.key.string() << "\n";
            return 0;
        }
        if (args.size() == 5 && args[0] == "serve") return serve(std::atoi(args[1].c_str()), args[2], args[3], args[4]);
    } catch (const std::exception& error) {
        std::cerr << "release_host: " << error.what() << "\n";
        return 1;
    }
    return usage();
}
