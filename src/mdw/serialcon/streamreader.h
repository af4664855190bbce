#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace serialcon {

// Cuts serial link messages (7F, type, size n, n payload bytes, checksum) out of a byte stream
// that arrives in pieces of any size. Bytes before a sync byte are skipped. A message whose
// checksum fails may have begun at a 0x7F that was noise or part of another message, so the
// search for the next sync byte starts again right after that one: a stray sync byte costs no
// good message. At most one incomplete message (259 bytes) is kept between two feeds.
// Not thread-safe; owned by whoever reads the stream.
class StreamReader
{
public:
    // One whole message: its type, a view of its payload (valid during the call only) and whether
    // its checksum matched. Messages with a failed checksum are reported too, so the owner can
    // decide (the serial driver logs DEBUG text whatever its checksum).
    using Handler = std::function<void(uint8_t type, const uint8_t *payload, uint8_t size,
                                       bool checksumMatches)>;

    static constexpr size_t kMaxMessageLength = 255 + 4;

    void feed(const uint8_t *data, size_t size, const Handler &handler);
    // Forgets a message begun: the stream starts over (a port that was reopened).
    void reset();
    size_t pendingBytes() const { return _pending.size(); }

private:
    std::vector<uint8_t> _pending;
};

} // namespace serialcon
