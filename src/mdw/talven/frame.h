#pragma once

#include "ardo/sharedbuffer.h"
#include "mdw/talven/address.h"

#include <cstddef>
#include <cstdint>

namespace talven {

class NetworkInterfaceDriver;

enum class FrameType : uint8_t { Invalid = 0, Beacon = 1, Mpdu = 2 };

// Destination of every Beacon and of every MPDU.
extern const phy::Address<4> BEACON_ADDRESS;
extern const phy::Address<4> MPDU_ADDRESS;

// The largest frame the network carries: the capacity of an MPDU.
constexpr size_t kMaxFrameLength = 37;

// A TALVEN link frame: a byte buffer with the common header (destination address, length field,
// type byte) and a body. Copies share the bytes. All multi-byte fields are little-endian.
class Frame
{
public:
    explicit Frame(size_t size);
    // Shares the bytes as they stand, typically a view of received bytes; nothing is rewritten.
    explicit Frame(const ardo::SharedBuffer<uint8_t> &buffer);

    size_t length() const { return length_; }
    void setLength(size_t length);
    size_t capacity() const { return buffer_.size(); }

    const uint8_t *data() const { return buffer_.data(); }
    uint8_t *data() { return buffer_.data(); }
    const ardo::SharedBuffer<uint8_t> &buffer() const { return buffer_; }

    bool isValid() const;
    FrameType type() const;
    void setType(FrameType type);
    void setDestination(const phy::Address<4> &address);

    // Two lowercase hex digits and a space per byte. The text is shared by all frames and
    // overwritten by the next call: copy it at once.
    const char *toHexString() const;

protected:
    ardo::SharedBuffer<uint8_t> buffer_;
    size_t length_ = 0;
};

// The frame that opens every cycle; always 17 bytes.
class Beacon : public Frame
{
public:
    static constexpr size_t kLength = 17;

    explicit Beacon(uint32_t cycleInterval = 0);
    // A view of a received beacon: shares its bytes, rewrites none. The frame must hold exactly
    // kLength bytes; a receiver checks that before it asks.
    explicit Beacon(const Frame &frame);

    uint32_t networkTime() const;
    void setNetworkTime(uint32_t milliseconds);
    uint32_t cycleInterval() const;
    // 24 bits on the wire; higher bits are dropped.
    void setCycleInterval(uint32_t milliseconds);
    uint16_t slotDuration() const;
    void setSlotDuration(uint16_t milliseconds);
    uint16_t svGroupMask() const;
    // One bit per SV group; only groups 0 to 15 reach the frame.
    void setSvGroupMask(uint32_t svGroupMask);
};

// A multi-PDU frame: the answer of one sensor node, carrying small embedded PDUs (SV groups and
// events) back to back after a 7-byte header. The gateway only reads them (decompose); the
// building operations are the sensor's side and serve the simulator and the tests.
class MultiPdu : public Frame
{
public:
    // Receives the ePDUs of one decomposition, in frame order. Payloads are views into the frame's
    // bytes, valid only during the call.
    class DecomposeDelegate
    {
    public:
        virtual ~DecomposeDelegate();
        virtual void onSvGroup(const MultiPdu &mpdu, uint8_t group,
                               const ardo::SharedBuffer<uint8_t> &payload)
                = 0;
        virtual void onEvent(const MultiPdu &mpdu, uint16_t eventId,
                             const ardo::SharedBuffer<uint8_t> &payload)
                = 0;
        // Called at most once, after which the walk stops; positions are byte offsets plus 5.
        virtual void onFormatError(const MultiPdu &mpdu, size_t ePduIndex, size_t position);
    };

    static constexpr size_t kHeaderLength = 7;
    static constexpr size_t kMaxPayload = 7;

    // An empty MPDU of full capacity, ready to be filled.
    MultiPdu();
    // A view of a received frame: shares its bytes and length.
    explicit MultiPdu(const Frame &frame);

    uint8_t sourceId() const;
    void setSourceId(uint8_t id);
    uint8_t ePduCount() const;

    // True when the frame is exactly a well-formed sequence of ePDUs. Never reads beyond the bytes
    // held, whatever the length field and the ePDU headers claim.
    bool decompose(DecomposeDelegate &delegate) const;

    // Writable view behind the next ePDU's header byte, up to the end of the buffer.
    ardo::SharedBuffer<uint8_t> svGroupBuffer();
    // Commits `size` bytes written through svGroupBuffer(); the caller makes sure they fit.
    void addSvGroup(uint8_t group, size_t size);
    // Refuses a payload over 7 bytes or one that would fill the frame to its last byte.
    bool addEvent(uint16_t eventId, const ardo::SharedBuffer<uint8_t> &data);

private:
    void appendEpdu(uint8_t header, size_t size);

    size_t writePosition_;
};

// Transmits the frame's valid bytes; the driver's result is not looked at.
NetworkInterfaceDriver &operator<<(NetworkInterfaceDriver &driver, const Frame &frame);

} // namespace talven
