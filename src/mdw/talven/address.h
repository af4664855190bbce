#pragma once

#include "ardo/assert.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace phy {

// A link-layer address of N bytes, kept in the order in which they go on the wire.
template<size_t N>
class Address
{
public:
    Address() = default;

    explicit Address(const uint8_t *from)
    {
        ARDO_ASSERT(from, "mdw/talven/address");
        std::memcpy(bytes_, from, N);
    }

    Address(const Address &) = default;
    Address &operator=(const Address &) = default;
    virtual ~Address() = default;

    const uint8_t *bytes() const { return bytes_; }
    uint8_t operator[](size_t index) const { return bytes_[index]; }

    bool operator==(const Address &other) const
    {
        return std::memcmp(bytes_, other.bytes_, N) == 0;
    }
    bool operator!=(const Address &other) const { return !(*this == other); }

private:
    uint8_t bytes_[N] = {};
};

} // namespace phy
