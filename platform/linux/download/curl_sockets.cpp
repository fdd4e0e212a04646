#include "platform/linux/download/curl_sockets.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cstdlib>
#include <set>

namespace orbitreel {

namespace {

// With the flag from the start: another thread may start a tool at any moment.
curl_socket_t openSocket(void*, curlsocktype, curl_sockaddr* address) {
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

std::set<int> openDescriptors() {
    std::set<int> found;
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return found;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd != dirfd(folder)) found.insert(fd);
    }
    closedir(folder);
    return found;
}

}  // namespace

void openSocketsCloseOnExec(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &openSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, nullptr);
}

CURLM* makeMultiCloseOnExec() {
    // What appeared meanwhile is the multi handle's. A descriptor another
    // thread opened at the same moment gets the flag too, which it should
    // have anyway.
    const std::set<int> before = openDescriptors();
    CURLM* multi = curl_multi_init();
    for (int fd : openDescriptors()) {
        if (before.contains(fd)) continue;
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0) (void)fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    return multi;
}

}  // namespace orbitreel
