#pragma once

#include "ardo/sharedbuffer.h"
#include "mdw/talven/address.h"

#include <cstddef>
#include <cstdint>

namespace talven {
class Frame;
}

namespace serialcon {

// One message of the serial link between the PC and the gateway board:
//   7F, type, payload size n, n payload bytes, checksum (complement of the 8-bit sum of the rest).
// Builds the messages the board sends (FRAME, DEBUG) and reads those the PC sends (CMD, BEACON).
// Copies share the bytes. No accessor reads or writes outside the bytes held, whatever the header
// claims; preconditions that only a programming error can break are checked by assertions.
class Msg
{
public:
    static constexpr uint8_t CMD = 1;
    static constexpr uint8_t BEACON = 2;
    static constexpr uint8_t FRAME = 3;
    static constexpr uint8_t DEBUG = 4;

    static constexpr uint8_t kSyncByte = 0x7F;
    // Sync, type and size before the payload, checksum after it.
    static constexpr size_t kOverhead = 4;

    // A copy of received bytes; prepared when they hold exactly one message (checksum not tested).
    Msg(const uint8_t *data, size_t size);
    // A FRAME message for a frame of 6 to 251 bytes, everything but the checksum:
    // frame bytes 0 to 5, the reception time (little-endian), the rest of the frame.
    Msg(const uint32_t &receptionTime, const talven::Frame &frame);
    Msg(const Msg &other) = default;
    Msg &operator=(const Msg &other) = default;
    virtual ~Msg();

    uint8_t type() const;
    uint8_t payloadSize() const;
    uint8_t *payload() const;
    const ardo::SharedBuffer<uint8_t> &buffer() const { return _buffer; }

    // The buffer must already be payloadSize + 4 bytes long.
    void prepareHeader(uint8_t type, uint8_t payloadSize);
    void setChecksum(uint8_t checksum);
    uint8_t checksum() const;
    uint8_t computeChecksum() const;
    bool isValid() const;

    // A CMD message whose payload holds a command code and an argument of 0, 1 or 4 bytes: the
    // only ones command() and commandArgument() may be asked about. Check received bytes first.
    bool isWellFormedCommand() const;
    uint8_t command() const;
    // No argument, one byte or four bytes (little-endian), by payload size 1, 2 or 5.
    uint32_t commandArgument() const;
    // False, outputs untouched, unless the payload is a whole 17-byte Beacon.
    bool beaconInfo(phy::Address<4> &destination, uint32_t &networkTime, uint32_t &cycleInterval,
                    uint16_t &slotDuration, uint16_t &svGroupMask) const;

    // Complement of the 8-bit sum of `size` bytes: the checksum of a message whose bytes before
    // the checksum are these.
    static uint8_t checksumOf(const uint8_t *data, size_t size);

private:
    uint8_t byteAt(size_t offset) const;
    // Whether the bytes announced by the size byte are all there; only an unprepared message may
    // claim more than it holds.
    bool holdsPayload() const;

    bool _headerPrepared = false;
    ardo::SharedBuffer<uint8_t> _buffer;
};

} // namespace serialcon
