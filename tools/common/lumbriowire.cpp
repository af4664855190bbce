#include "common/lumbriowire.h"

#include <QtEndian>

namespace lumbrio {

quint16 crc16X25(const char *data, size_t length)
{
    quint16 crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0x8408) : quint16(crc >> 1);
    }
    return quint16(~crc);
}

QByteArray encodeFrameMessage(const QByteArray &frame)
{
    QByteArray message(kHeaderLength + 1, Qt::Uninitialized);
    message[0] = char(kFrameMessage);
    qToBigEndian<quint32>(quint32(frame.size() + 3), message.data() + 1);
    message[kHeaderLength] = char(!frame.isEmpty() && (quint8(frame[0]) & 0x80) ? 0xAA : 0x55);
    message.append(frame);
    char checksum[2];
    qToBigEndian<quint16>(crc16X25(frame.constData(), size_t(frame.size())), checksum);
    message.append(checksum, 2);
    return message;
}

QByteArray encodeControlMessage(quint8 parameter, const QByteArray &value)
{
    QByteArray message(kHeaderLength + 1, Qt::Uninitialized);
    message[0] = char(kControlMessage);
    qToBigEndian<quint32>(quint32(value.size() + 1), message.data() + 1);
    message[kHeaderLength] = char(parameter);
    message.append(value);
    return message;
}

void MessageReader::append(const QByteArray &bytes)
{
    pending_.remove(0, taken_);
    taken_ = 0;
    pending_.append(bytes);
}

bool MessageReader::next(Message *message)
{
    if (outOfStep_ || pendingBytes() < kHeaderLength)
        return false;
    const char *header = pending_.constData() + taken_;
    const quint32 length = qFromBigEndian<quint32>(header + 1);
    if (length > kMaxPayloadLength) {
        outOfStep_ = true;
        return false;
    }
    if (quint32(pendingBytes() - kHeaderLength) < length)
        return false;
    message->kind = quint8(header[0]);
    message->payload = pending_.mid(taken_ + kHeaderLength, int(length));
    taken_ += kHeaderLength + int(length);
    return true;
}

bool decodeFramePayload(const QByteArray &payload, QByteArray *frame)
{
    if (payload.size() < 3)
        return false;
    const QByteArray bytes = payload.mid(1, payload.size() - 3);
    const quint16 checksum = qFromBigEndian<quint16>(payload.constData() + payload.size() - 2);
    if (checksum != crc16X25(bytes.constData(), size_t(bytes.size())))
        return false;
    *frame = bytes;
    return true;
}

} // namespace lumbrio
