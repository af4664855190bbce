#include "mdw/serialcon/streamreader.h"

#include "mdw/serialcon/msg.h"

#include <algorithm>

namespace serialcon {

namespace {

constexpr size_t kSizeOffset = 2;
constexpr size_t kPayloadOffset = 3;

} // namespace

void StreamReader::feed(const uint8_t *data, size_t size, const Handler &handler)
{
    if (size > 0)
        _pending.insert(_pending.end(), data, data + size);

    size_t at = 0;
    for (;;) {
        const auto sync = std::find(_pending.begin() + long(at), _pending.end(), Msg::kSyncByte);
        at = size_t(sync - _pending.begin());
        if (sync == _pending.end() || _pending.size() - at <= kSizeOffset)
            break;
        const size_t payloadSize = _pending[at + kSizeOffset];
        const size_t length = payloadSize + Msg::kOverhead;
        if (_pending.size() - at < length)
            break;

        const uint8_t *message = _pending.data() + at;
        const uint8_t checksum = message[length - 1];
        const bool matches = checksum == Msg::checksumOf(message, length - 1);
        // The handler may not keep the view; the bytes stay put until this feed ends.
        handler(message[1], message + kPayloadOffset, uint8_t(payloadSize), matches);
        at += matches ? length : 1;
    }
    _pending.erase(_pending.begin(), _pending.begin() + long(std::min(at, _pending.size())));
}

void StreamReader::reset()
{
    _pending.clear();
}

} // namespace serialcon
