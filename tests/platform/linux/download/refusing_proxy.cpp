#include "tests/platform/linux/download/refusing_proxy.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace orbitreel::test_support {

namespace {

int loopbackListener(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no loopback listener");
    port = ntohs(address.sin_port);
    return fd;
}

std::string reason(int status) {
    switch (status) {
        case 403:
            return "Forbidden";
        case 407:
            return "Proxy Authentication Required";
        default:
            return "Refused";
    }
}

}  // namespace

RefusingProxy::RefusingProxy(int status) : status_(status), listener_(loopbackListener(port_)) {
    if (::pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    thread_ = std::thread([this] { serve(); });
}

RefusingProxy::~RefusingProxy() {
    (void)::write(stop_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(stop_[0]);
    ::close(stop_[1]);
}

std::vector<std::string> RefusingProxy::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RefusingProxy::serve() {
    for (;;) {
        pollfd waits[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) continue;
        if (waits[1].revents) return;
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection);
        ::close(connection);
    }
}

void RefusingProxy::answer(int connection) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd wait{connection, POLLIN, 0};
        if (::poll(&wait, 1, 5000) <= 0) break;
        ssize_t got = ::read(connection, buffer, sizeof buffer);
        if (got <= 0) break;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(head);
    }
    std::string response = "HTTP/1.1 " + std::to_string(status_) + " " + reason(status_) +
                           "\r\nProxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n"
                           "Connection: close\r\n\r\n";
    (void)::send(connection, response.data(), response.size(), MSG_NOSIGNAL);
}

int closedLoopbackPort() {
    int port = 0;
    ::close(loopbackListener(port));
    return port;
}

ScopedVariable::ScopedVariable(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) saved_ = old;
    if (value) ::setenv(name_.c_str(), value->c_str(), 1);
    else ::unsetenv(name_.c_str());
}

ScopedVariable::~ScopedVariable() {
    if (saved_) ::setenv(name_.c_str(), saved_->c_str(), 1);
    else ::unsetenv(name_.c_str());
}

}  // namespace orbitreel::test_support
