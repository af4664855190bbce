// Any bytes as what a client sends to lumbrio-sim, in pieces: messages come out whole, frame
// payloads decode only with their checksum, and a stream out of step stops growing.
#include "common/lumbriowire.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lumbrio::MessageReader reader;
    const size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
    unsigned sum = 0;
    for (size_t at = size > 0 ? 1 : 0; at < size; at += piece) {
        const size_t length = at + piece <= size ? piece : size - at;
        reader.append(QByteArray(reinterpret_cast<const char *>(data + at), int(length)));
        lumbrio::Message message;
        while (reader.next(&message)) {
            QByteArray frame;
            if (message.kind == lumbrio::kFrameMessage
                && lumbrio::decodeFramePayload(message.payload, &frame)) {
                if (lumbrio::encodeFrameMessage(frame).mid(lumbrio::kHeaderLength + 1, frame.size())
                    != frame)
                    __builtin_trap();
                sum += uint8_t(frame.size());
            }
        }
        if (reader.isOutOfStep())
            break;
        if (quint32(reader.pendingBytes())
            > lumbrio::kMaxPayloadLength + lumbrio::kHeaderLength + quint32(piece))
            __builtin_trap();
    }
    return int(sum & 0);
}
