// Any bytes as one serial link message, read the way a receiver reads one: every accessor whose
// precondition the bytes meet is called. A FRAME message is also built from the bytes as a frame.
#include "ardo/sharedbuffer.h"
#include "mdw/serialcon/msg.h"
#include "mdw/talven/address.h"
#include "mdw/talven/frame.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const serialcon::Msg msg(data, size);
    unsigned sum = msg.type() + msg.payloadSize();
    if (msg.isValid()) {
        sum += msg.checksum() + msg.computeChecksum();
        if (msg.isWellFormedCommand())
            sum += msg.command() + msg.commandArgument();
        if (msg.type() == serialcon::Msg::BEACON) {
            phy::Address<4> destination;
            uint32_t time = 0, interval = 0;
            uint16_t slot = 0, mask = 0;
            sum += msg.beaconInfo(destination, time, interval, slot, mask);
        }
    }

    if (size >= 6 && size <= 251) {
        ardo::SharedBuffer<uint8_t> bytes(size);
        std::memcpy(bytes.data(), data, size);
        const talven::Frame frame(bytes);
        serialcon::Msg built(uint32_t(sum), frame);
        built.setChecksum(built.computeChecksum());
        if (!built.isValid() || built.payloadSize() != size + 4)
            __builtin_trap();
    }
    return 0;
}
