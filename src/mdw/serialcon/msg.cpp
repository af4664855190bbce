#include "mdw/serialcon/msg.h"

#include "ardo/assert.h"
#include "mdw/talven/frame.h"

#include <algorithm>

namespace serialcon {

namespace {

constexpr const char *kUnit = "mdw/serialcon/msg";
constexpr size_t kTypeOffset = 1;
constexpr size_t kSizeOffset = 2;
constexpr size_t kPayloadOffset = 3;

// Where the board puts its reception time inside a FRAME payload: behind the common frame header.
constexpr size_t kFrameHeaderLength = 6;
constexpr size_t kTimeLength = 4;
// The payload size field holds 8 bits, four of which go to the time.
constexpr size_t kMaxFrameLength = 255 - kTimeLength;

uint32_t littleEndian(const uint8_t *at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

} // namespace

Msg::Msg(const uint8_t *data, size_t size)
    : _buffer(ardo::SharedBuffer<uint8_t>::copy(data, size))
{
    _headerPrepared = size >= kOverhead && data[0] == kSyncByte
                      && size == size_t(data[kSizeOffset]) + kOverhead;
}

Msg::Msg(const uint32_t &receptionTime, const talven::Frame &frame)
{
    const size_t length = frame.length();
    // Reading the header of a shorter frame would run past its bytes; a longer one cannot be
    // described by the size byte.
    ARDO_ASSERT(length >= 6 && length <= 251, kUnit);
    if (length < kFrameHeaderLength || length > kMaxFrameLength)
        return;

    _buffer = ardo::SharedBuffer<uint8_t>(length + kTimeLength + kOverhead);
    uint8_t *bytes = _buffer.data();
    bytes[0] = kSyncByte;
    bytes[kTypeOffset] = FRAME;
    bytes[kSizeOffset] = static_cast<uint8_t>(length + kTimeLength);
    uint8_t *out
            = std::copy(frame.data(), frame.data() + kFrameHeaderLength, bytes + kPayloadOffset);
    for (size_t i = 0; i < kTimeLength; ++i)
        *out++ = static_cast<uint8_t>(receptionTime >> (8 * i));
    std::copy(frame.data() + kFrameHeaderLength, frame.data() + length, out);
    _headerPrepared = true;
}

Msg::~Msg() = default;

uint8_t Msg::byteAt(size_t offset) const
{
    return offset < _buffer.size() ? _buffer.data()[offset] : 0;
}

uint8_t Msg::type() const
{
    return byteAt(kTypeOffset);
}

uint8_t Msg::payloadSize() const
{
    return byteAt(kSizeOffset);
}

uint8_t *Msg::payload() const
{
    return _buffer.size() >= kPayloadOffset ? _buffer.data() + kPayloadOffset : nullptr;
}

bool Msg::holdsPayload() const
{
    return _buffer.size() >= kPayloadOffset + payloadSize();
}

void Msg::prepareHeader(uint8_t type, uint8_t payloadSize)
{
    if (_buffer.size() < kPayloadOffset)
        return;
    uint8_t *bytes = _buffer.data();
    bytes[0] = kSyncByte;
    bytes[kTypeOffset] = type;
    bytes[kSizeOffset] = payloadSize;
    // A header that announces more or fewer bytes than the buffer holds is no header for it: the
    // checksum would land outside the message.
    _headerPrepared = _buffer.size() == size_t(payloadSize) + kOverhead;
}

void Msg::setChecksum(uint8_t checksum)
{
    ARDO_ASSERT(_headerPrepared, kUnit);
    const size_t offset = kPayloadOffset + payloadSize();
    if (offset < _buffer.size())
        _buffer.data()[offset] = checksum;
}

uint8_t Msg::checksum() const
{
    ARDO_ASSERT(_headerPrepared, kUnit);
    return byteAt(kPayloadOffset + payloadSize());
}

uint8_t Msg::computeChecksum() const
{
    ARDO_ASSERT(_headerPrepared, kUnit);
    const size_t covered = std::min(kPayloadOffset + payloadSize(), _buffer.size());
    return checksumOf(_buffer.data(), covered);
}

bool Msg::isValid() const
{
    return _headerPrepared && _buffer.size() == size_t(payloadSize()) + kOverhead
           && checksum() == computeChecksum();
}

bool Msg::isWellFormedCommand() const
{
    const uint8_t size = payloadSize();
    return type() == CMD && (size == 1 || size == 2 || size == 5) && holdsPayload();
}

uint8_t Msg::command() const
{
    ARDO_ASSERT(type() == CMD, kUnit);
    // A command without payload has no code; the byte behind the header is its checksum.
    return payloadSize() > 0 ? byteAt(kPayloadOffset) : 0;
}

uint32_t Msg::commandArgument() const
{
    ARDO_ASSERT(type() == CMD, kUnit);
    switch (payloadSize()) {
    case 5:
        return holdsPayload() ? littleEndian(payload() + 1, 4) : 0;
    case 2:
        return holdsPayload() ? payload()[1] : 0;
    default:
        ARDO_ASSERT(payloadSize() == 1, kUnit);
        return 0;
    }
}

bool Msg::beaconInfo(phy::Address<4> &destination, uint32_t &networkTime, uint32_t &cycleInterval,
                     uint16_t &slotDuration, uint16_t &svGroupMask) const
{
    ARDO_ASSERT(type() == BEACON, kUnit);
    if (payloadSize() != talven::Beacon::kLength || !holdsPayload())
        return false;
    const talven::Beacon beacon(
            talven::Frame(ardo::SharedBuffer<uint8_t>::proxy(payload(), talven::Beacon::kLength)));
    destination = phy::Address<4>(beacon.data());
    networkTime = beacon.networkTime();
    cycleInterval = beacon.cycleInterval();
    slotDuration = beacon.slotDuration();
    svGroupMask = beacon.svGroupMask();
    return true;
}

uint8_t Msg::checksumOf(const uint8_t *data, size_t size)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum = static_cast<uint8_t>(sum + data[i]);
    return static_cast<uint8_t>(~sum);
}

} // namespace serialcon
