#include "mdw/talven/frame.h"

#include "mdw/talven/networkinterfacedriver.h"

#include <string>

namespace talven {

namespace {

constexpr const char *kUnit = "mdw/talven/frame";
constexpr size_t kLengthField = 4;
constexpr size_t kTypeByte = 5;
constexpr size_t kHeaderLength = 6;
constexpr uint8_t kMpduBit = 0x80;

// Where the beacon's fields lie, and how many bytes each takes on the wire.
constexpr size_t kNetworkTimeAt = 6, kNetworkTimeBytes = 4;
constexpr size_t kCycleIntervalAt = 10, kCycleIntervalBytes = 3;
constexpr size_t kSlotDurationAt = 13, kSlotDurationBytes = 2;
constexpr size_t kSvGroupMaskAt = 15, kSvGroupMaskBytes = 2;

const uint8_t kBeaconAddressBytes[4] = {0xC7, 0xC7, 0xC7, 0xC7};
const uint8_t kMpduAddressBytes[4] = {0xE2, 0xE2, 0xE2, 0xE2};

void putLittleEndian(uint8_t *at, uint32_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getLittleEndian(const uint8_t *at, size_t bytes)
{
    uint32_t value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = value << 8 | at[i];
    return value;
}

} // namespace

const phy::Address<4> BEACON_ADDRESS(kBeaconAddressBytes);
const phy::Address<4> MPDU_ADDRESS(kMpduAddressBytes);

Frame::Frame(size_t size)
    : buffer_(size)
{
    ARDO_ASSERT(buffer_.data(), kUnit);
    setLength(size);
}

Frame::Frame(const ardo::SharedBuffer<uint8_t> &buffer)
    : buffer_(buffer)
    , length_(buffer.size())
{
    ARDO_ASSERT(buffer_.data(), kUnit);
}

void Frame::setLength(size_t length)
{
    if (length > buffer_.size()) {
        ARDO_ASSERT(false, kUnit);
        return;
    }
    length_ = length;
    // A buffer too short to hold the length field has none to update.
    if (buffer_.size() > kLengthField)
        buffer_.data()[kLengthField] = static_cast<uint8_t>(length_ - 5);
}

bool Frame::isValid() const
{
    return buffer_.size() != 0 && length_ > 5;
}

FrameType Frame::type() const
{
    if (length_ < kHeaderLength)
        return FrameType::Invalid;
    return (buffer_.data()[kTypeByte] & kMpduBit) ? FrameType::Mpdu : FrameType::Beacon;
}

void Frame::setType(FrameType type)
{
    uint8_t &typeByte = buffer_.data()[kTypeByte];
    if (type == FrameType::Beacon)
        typeByte &= ~kMpduBit;
    else if (type == FrameType::Mpdu)
        typeByte |= kMpduBit;
}

void Frame::setDestination(const phy::Address<4> &address)
{
    std::copy(address.bytes(), address.bytes() + 4, buffer_.data());
}

const char *Frame::toHexString() const
{
    static const char digits[] = "0123456789abcdef";
    // Sized for the largest frame of the network up front; a longer frame received from a faulty
    // peer grows the text rather than running past it.
    static std::string text = [] {
        std::string initial;
        initial.reserve(3 * kMaxFrameLength + 1);
        return initial;
    }();

    text.resize(3 * length_);
    const uint8_t *bytes = buffer_.data();
    for (size_t i = 0; i < length_; ++i) {
        text[3 * i] = digits[bytes[i] >> 4];
        text[3 * i + 1] = digits[bytes[i] & 0x0F];
        text[3 * i + 2] = ' ';
    }
    return text.c_str();
}

Beacon::Beacon(uint32_t cycleInterval)
    : Frame(kLength)
{
    buffer_.data()[kTypeByte] = 0;
    setDestination(BEACON_ADDRESS);
    setType(FrameType::Beacon);
    setNetworkTime(0);
    setCycleInterval(cycleInterval);
    // Not part of the constructor's contract, but a beacon must never carry stale heap bytes.
    setSlotDuration(0);
    setSvGroupMask(0);
}

Beacon::Beacon(const Frame &frame)
    : Frame(frame)
{
    ARDO_ASSERT(length_ == kLength, kUnit);
}

uint32_t Beacon::networkTime() const
{
    return getLittleEndian(buffer_.data() + kNetworkTimeAt, kNetworkTimeBytes);
}

void Beacon::setNetworkTime(uint32_t milliseconds)
{
    putLittleEndian(buffer_.data() + kNetworkTimeAt, milliseconds, kNetworkTimeBytes);
}

uint32_t Beacon::cycleInterval() const
{
    return getLittleEndian(buffer_.data() + kCycleIntervalAt, kCycleIntervalBytes);
}

void Beacon::setCycleInterval(uint32_t milliseconds)
{
    putLittleEndian(buffer_.data() + kCycleIntervalAt, milliseconds, kCycleIntervalBytes);
}

uint16_t Beacon::slotDuration() const
{
    return static_cast<uint16_t>(
            getLittleEndian(buffer_.data() + kSlotDurationAt, kSlotDurationBytes));
}

void Beacon::setSlotDuration(uint16_t milliseconds)
{
    putLittleEndian(buffer_.data() + kSlotDurationAt, milliseconds, kSlotDurationBytes);
}

uint16_t Beacon::svGroupMask() const
{
    return static_cast<uint16_t>(
            getLittleEndian(buffer_.data() + kSvGroupMaskAt, kSvGroupMaskBytes));
}

void Beacon::setSvGroupMask(uint32_t svGroupMask)
{
    putLittleEndian(buffer_.data() + kSvGroupMaskAt, svGroupMask, kSvGroupMaskBytes);
}

NetworkInterfaceDriver &operator<<(NetworkInterfaceDriver &driver, const Frame &frame)
{
    driver.transmit(frame.data(), frame.length());
    return driver;
}

} // namespace talven
