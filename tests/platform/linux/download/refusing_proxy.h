#pragma once
// A proxy of the test's own on loopback that answers every CONNECT with one
// fixed status and never opens a tunnel; and a scoped environment variable,
// the way the session learns of a proxy.

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orbitreel::test_support {

class RefusingProxy {
public:
    // 407 asks for credentials; any other status refuses the tunnel.
    explicit RefusingProxy(int status);
    ~RefusingProxy();
    RefusingProxy(const RefusingProxy&) = delete;
    RefusingProxy& operator=(const RefusingProxy&) = delete;

    int port() const { return port_; }
    // The request heads received so far.
    std::vector<std::string> requests() const;

private:
    void serve();
    void answer(int connection);

    int status_;
    int port_ = 0;  // set by the listener's making, so declared before it
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A loopback port with no listener (free a moment ago).
int closedLoopbackPort();

// Sets (or, with nothing, unsets) a variable until the end of the scope.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::optional<std::string>& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace orbitreel::test_support
