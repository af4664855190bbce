#include "common/seriallink.h"

namespace seriallink {

namespace {

constexpr int kSizeByte = 2;
constexpr int kMaxPayload = 255;

} // namespace

uint8_t checksumOf(const QByteArray &bytes)
{
    unsigned sum = 0;
    for (char byte : bytes)
        sum += uint8_t(byte);
    return uint8_t(~sum);
}

QByteArray message(uint8_t type, const QByteArray &payload)
{
    Q_ASSERT(payload.size() <= kMaxPayload);
    QByteArray bytes;
    bytes.append(char(kSyncByte)).append(char(type)).append(char(payload.size())).append(payload);
    return bytes.append(char(checksumOf(bytes)));
}

void Reader::append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    appendedAt_.append(pending_.size());
    pending_.append(bytes);
}

bool Reader::next(Message *message)
{
    const int sync = pending_.indexOf(char(kSyncByte));
    const int skip = sync < 0 ? pending_.size() : sync;
    skipped_ += skip;
    pending_.remove(0, skip);
    // A piece that began at or before the message's first byte does not cut it.
    QList<int> ahead;
    for (int at : qAsConst(appendedAt_)) {
        if (at - skip > 0)
            ahead.append(at - skip);
    }
    appendedAt_ = ahead;
    if (pending_.size() <= kSizeByte)
        return false;
    const int length = uint8_t(pending_[kSizeByte]) + kOverhead;
    if (pending_.size() < length)
        return false;

    message->type = uint8_t(pending_[1]);
    message->bytes = pending_.left(length);
    message->payload = message->bytes.mid(kSizeByte + 1, length - kOverhead);
    message->checksumMatches
            = checksumOf(message->bytes.chopped(1)) == uint8_t(pending_[length - 1]);
    message->skipped = skipped_;
    message->inPieces = !appendedAt_.isEmpty() && appendedAt_.first() < length;
    while (!appendedAt_.isEmpty() && appendedAt_.first() <= length)
        appendedAt_.removeFirst();
    for (int &at : appendedAt_)
        at -= length;
    pending_.remove(0, length);
    skipped_ = 0;
    return true;
}

} // namespace seriallink
