// Any bytes as the simulator's TCP stream, as the simulator driver cuts it: every frame lies inside
// the bytes, and what is left over is never more than one incomplete message.
#include "drivers/nrflumbriodriver.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    unsigned sum = 0;
    const int used = NrfLumbrioDriver::cutFrames(bytes, [&](int at, int length) {
        if (at < 0 || length < 0 || at + length > bytes.size())
            __builtin_trap();
        for (int i = at; i < at + length; ++i)
            sum += uint8_t(bytes[i]);
    });
    // Five header bytes, a preamble, 260 frame bytes and a checksum at most.
    if (used < 0 || used > bytes.size() || bytes.size() - used > 5 + 5 + 255 + 3)
        __builtin_trap();
    return int(sum & 0);
}
