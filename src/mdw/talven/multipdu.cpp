#include "mdw/talven/frame.h"

#include <algorithm>

namespace talven {

namespace {

constexpr size_t kLengthField = 4;
constexpr size_t kSourceByte = 5;
constexpr size_t kCountByte = 6;
constexpr uint8_t kEventBit = 0x80;
constexpr uint8_t kIdMask = 0x78;
constexpr uint8_t kSizeMask = 0x07;
// Positions reported to the delegate count from five bytes before the frame.
constexpr size_t kPositionOffset = 5;

} // namespace

MultiPdu::DecomposeDelegate::~DecomposeDelegate() = default;

void MultiPdu::DecomposeDelegate::onFormatError(const MultiPdu &, size_t, size_t) {}

MultiPdu::MultiPdu()
    : Frame(kMaxFrameLength)
    , writePosition_(kHeaderLength)
{
    std::fill(buffer_.data(), buffer_.data() + kMaxFrameLength, 0);
    setDestination(MPDU_ADDRESS);
    setType(FrameType::Mpdu);
    setLength(kHeaderLength);
}

MultiPdu::MultiPdu(const Frame &frame)
    : Frame(frame)
    , writePosition_(frame.length())
{}

uint8_t MultiPdu::sourceId() const
{
    return length_ > kSourceByte ? buffer_.data()[kSourceByte] & 0x7F : 0;
}

void MultiPdu::setSourceId(uint8_t id)
{
    buffer_.data()[kSourceByte] = id;
    setType(FrameType::Mpdu);
}

uint8_t MultiPdu::ePduCount() const
{
    return length_ > kCountByte ? buffer_.data()[kCountByte] : 0;
}

bool MultiPdu::decompose(DecomposeDelegate &delegate) const
{
    const uint8_t *bytes = buffer_.data();
    const size_t count = ePduCount();
    const size_t claimedEnd = length_ > kLengthField ? kPositionOffset + bytes[kLengthField] : 0;
    const size_t end = std::min(claimedEnd, length_);

    size_t cursor = kHeaderLength;
    for (size_t i = 0; i < count; ++i) {
        if (cursor + 1 > end) {
            delegate.onFormatError(*this, i, cursor + kPositionOffset);
            return false;
        }
        const uint8_t header = bytes[cursor];
        const uint8_t id = (header & kIdMask) >> 3;
        const size_t size = header & kSizeMask;
        if (cursor + 1 + size > end) {
            delegate.onFormatError(*this, i, cursor + kPositionOffset);
            return false;
        }
        const auto payload = ardo::SharedBuffer<uint8_t>::proxy(bytes + cursor + 1, size);
        if (header & kEventBit)
            delegate.onEvent(*this, id, payload);
        else
            delegate.onSvGroup(*this, id, payload);
        cursor += 1 + size;
    }

    if (cursor == end)
        return true;
    // Bytes left over after the last ePDU are reported against index 0, whatever the count.
    delegate.onFormatError(*this, 0, cursor + kPositionOffset);
    return false;
}

ardo::SharedBuffer<uint8_t> MultiPdu::svGroupBuffer()
{
    const size_t start = std::min(writePosition_ + 1, capacity());
    return ardo::SharedBuffer<uint8_t>::proxy(buffer_.data() + start, capacity() - start);
}

void MultiPdu::addSvGroup(uint8_t group, size_t size)
{
    appendEpdu(static_cast<uint8_t>(((group * 8) & kIdMask) | (size & kSizeMask)), size);
}

bool MultiPdu::addEvent(uint16_t eventId, const ardo::SharedBuffer<uint8_t> &data)
{
    const size_t size = data.size();
    if (size > kMaxPayload || size + 1 >= capacity() - length_)
        return false;
    std::copy(data.data(), data.data() + size, buffer_.data() + writePosition_ + 1);
    appendEpdu(static_cast<uint8_t>(kEventBit | ((eventId * 8) & kIdMask) | size), size);
    return true;
}

void MultiPdu::appendEpdu(uint8_t header, size_t size)
{
    buffer_.data()[writePosition_] = header;
    setLength(length_ + size + 1);
    writePosition_ += size + 1;
    ++buffer_.data()[kCountByte];
}

} // namespace talven
