#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

// The serial link between the PC and the gateway board, read and written byte by byte and apart
// from the code that the tools stand in for: sync byte 7F, type, payload size n, n payload bytes,
// and the complement of the 8-bit sum of all that.
namespace seriallink {

constexpr uint8_t kSyncByte = 0x7F;
// Sync, type and size before the payload, checksum after it.
constexpr int kOverhead = 4;

uint8_t checksumOf(const QByteArray &bytes);
// A whole message with its checksum, for a payload of up to 255 bytes.
QByteArray message(uint8_t type, const QByteArray &payload);

struct Message
{
    uint8_t type = 0;
    QByteArray payload;
    // The message as it stood on the line, checksum included.
    QByteArray bytes;
    bool checksumMatches = false;
    // Bytes skipped since the previous message: noise, or the start of a message cut short.
    int skipped = 0;
    // Its bytes came in more than one append(): the writer's pieces, as far as the reader saw them.
    bool inPieces = false;
};

// Cuts messages out of a byte stream that arrives in pieces of any size, as the board does:
// a message starts at a sync byte and its size byte says where it ends, whatever its checksum.
class Reader
{
public:
    void append(const QByteArray &bytes);
    // Takes the next whole message out of the stream; false while none is complete.
    bool next(Message *message);

private:
    QByteArray pending_;
    // Where in pending_ each append() began, so that a message knows whether it was cut.
    QList<int> appendedAt_;
    int skipped_ = 0;
};

} // namespace seriallink
