// Any bytes as a received frame: classified, shown as hex and, as an MPDU, walked ePDU by ePDU.
// The walk must never read outside the bytes, whatever the length field and ePDU headers claim.
#include "ardo/sharedbuffer.h"
#include "mdw/talven/frame.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Reads every payload byte it is shown, so that a view past the frame is caught.
class Reader : public talven::MultiPdu::DecomposeDelegate
{
public:
    void onSvGroup(const talven::MultiPdu &, uint8_t, const ardo::SharedBuffer<uint8_t> &p) override
    {
        touch(p);
    }
    void onEvent(const talven::MultiPdu &, uint16_t, const ardo::SharedBuffer<uint8_t> &p) override
    {
        touch(p);
    }
    unsigned sum = 0;

private:
    void touch(const ardo::SharedBuffer<uint8_t> &payload)
    {
        for (size_t i = 0; i < payload.size(); ++i)
            sum += payload.data()[i];
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A frame needs bytes to point at (the engine never hands over an empty one without).
    if (size == 0)
        return 0;
    // A copy of exactly `size` bytes, so that the sanitizer sees any read past them.
    ardo::SharedBuffer<uint8_t> bytes(size);
    std::memcpy(bytes.data(), data, size);
    const talven::Frame frame(bytes);
    static_cast<void>(frame.toHexString());
    if (frame.type() == talven::FrameType::Mpdu) {
        const talven::MultiPdu mpdu(frame);
        Reader reader;
        static_cast<void>(mpdu.sourceId() + mpdu.ePduCount());
        static_cast<void>(mpdu.decompose(reader));
    }
    return 0;
}
