#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace lumbrio {

// The simulator's TCP protocol: every message is a 5-byte header (kind, big-endian payload
// length) and its payload. Frame messages carry a preamble byte, the frame and its X.25 CRC;
// control messages carry a parameter code and its value.
constexpr int kHeaderLength = 5;
constexpr quint8 kFrameMessage = 1;
constexpr quint8 kControlMessage = 3;
constexpr quint8 kNodeAddressParameter = 1;
constexpr quint8 kNodeNameParameter = 5;
// No client has a reason to send more; a longer message means the stream is out of step.
constexpr quint32 kMaxPayloadLength = 64 * 1024;

// CRC-16/X.25 (ISO 3309): reflected polynomial 0x1021, initial value 0xFFFF, result complemented.
quint16 crc16X25(const char *data, size_t length);

// A whole frame message for `frame`: preamble 0xAA when the frame's first bit is set, else 0x55.
QByteArray encodeFrameMessage(const QByteArray &frame);
// A whole control message: the parameter code, then its value as it stands.
QByteArray encodeControlMessage(quint8 parameter, const QByteArray &value);

struct Message
{
    quint8 kind = 0;
    QByteArray payload;
};

// Cuts messages out of a byte stream that arrives in pieces of any size.
class MessageReader
{
public:
    void append(const QByteArray &bytes);
    // Takes the next whole message out of the stream; false while none is complete.
    bool next(Message *message);
    // A header announced more than kMaxPayloadLength bytes: the stream cannot be trusted.
    bool isOutOfStep() const { return outOfStep_; }
    int pendingBytes() const { return pending_.size() - taken_; }

private:
    QByteArray pending_;
    // Bytes at the front already taken out as messages: removed in one go, not one message at a
    // time, so a large read costs linear time.
    int taken_ = 0;
    bool outOfStep_ = false;
};

// The frame inside a frame message's payload. False when the payload is too short to hold
// preamble and checksum, or when the checksum does not match the frame.
bool decodeFramePayload(const QByteArray &payload, QByteArray *frame);

} // namespace lumbrio
