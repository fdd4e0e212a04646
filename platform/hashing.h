#pragma once
// Incremental SHA-256.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace orbitreel {

class Sha256 {
public:
    virtual ~Sha256() = default;
    virtual void update(std::span<const std::uint8_t> bytes) = 0;
    virtual std::array<std::uint8_t, 32> finalize() = 0;
};

class Hashing {
public:
    virtual ~Hashing() = default;
    virtual std::unique_ptr<Sha256> makeSha256() = 0;
};

}  // namespace orbitreel
