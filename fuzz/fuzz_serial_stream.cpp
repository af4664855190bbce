// Any bytes as the serial line, cut into pieces by its first bytes: every message the reader
// reports lies inside what it was fed, and it never keeps more than one incomplete message.
#include "mdw/serialcon/streamreader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    serialcon::StreamReader reader;
    unsigned sum = 0;
    const auto handler = [&](uint8_t type, const uint8_t *payload, uint8_t length, bool matches) {
        for (size_t i = 0; i < length; ++i)
            sum += payload[i];
        sum += type + matches;
    };
    // The first byte chooses the piece length (1 to 16), the rest is the stream.
    const size_t piece = size > 0 ? 1 + data[0] % 16 : 1;
    for (size_t at = size > 0 ? 1 : 0; at < size; at += piece) {
        const size_t length = at + piece <= size ? piece : size - at;
        reader.feed(data + at, length, handler);
        if (reader.pendingBytes() >= serialcon::StreamReader::kMaxMessageLength)
            __builtin_trap();
    }
    return int(sum & 0);
}
