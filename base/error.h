#pragma once
// The program's one error type. Failures travel as values of `Result<T>` to
// one place, where they are shown or deliberately dropped.

#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace orbitreel {

// A failure the program detects itself: one Spanish text shown unchanged,
// made as `InstallError{texts::…}`.
struct InstallError {
    explicit InstallError(std::string_view text) : message(text) {}
    std::string message;
};

// A failure of an operating-system service, carried unchanged.
struct PlatformError {
    std::string domain;       // e.g. "posix", "curl", "json"
    int code = 0;             // the service's own code
    std::string description;  // user-facing (Spanish where we map the cause)
};

class Error {
public:
    Error(InstallError e) : value_(std::move(e)) {}
    Error(PlatformError e) : value_(std::move(e)) {}

    bool isInstallError() const { return std::holds_alternative<InstallError>(value_); }
    const InstallError* installError() const { return std::get_if<InstallError>(&value_); }
    const PlatformError* platformError() const { return std::get_if<PlatformError>(&value_); }

    // What the user sees.
    std::string localizedDescription() const;
    // The self-test's rendering: message("…") with quotes and backslashes
    // escaped for an InstallError, the platform's description otherwise.
    std::string diagnostic() const;

    friend bool operator==(const Error& a, const Error& b);

private:
    std::variant<InstallError, PlatformError> value_;
};

// A result that cannot be dropped by accident: every function returning one
// is [[nodiscard]] through the type. A step whose failure does not matter says
// so at the call with `ignore(...)`.
template <class T>
class [[nodiscard]] Result : public std::expected<T, Error> {
public:
    using std::expected<T, Error>::expected;
};

using Failure = std::unexpected<Error>;

inline Failure fail_with(InstallError e) { return Failure(Error(std::move(e))); }
inline Failure fail_with(PlatformError e) { return Failure(Error(std::move(e))); }
inline Failure fail_with(Error e) { return Failure(std::move(e)); }

// Marks a best-effort step whose failure is dropped on purpose.
template <class T>
inline void ignore(const Result<T>&) {}

}  // namespace orbitreel
