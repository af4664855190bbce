#pragma once

#include <QByteArray>

#include <cstdint>

// Serial link messages written out byte by byte, independently of the code under test: sync byte
// 7F, type, payload size, payload, and the complement of the 8-bit sum of all that.
namespace SerialBytes {

inline uint8_t checksumOf(const QByteArray &bytes)
{
    unsigned sum = 0;
    for (char byte : bytes)
        sum += uint8_t(byte);
    return uint8_t(~sum);
}

inline QByteArray message(uint8_t type, const QByteArray &payload)
{
    QByteArray bytes;
    bytes.append(char(0x7F)).append(char(type)).append(char(payload.size())).append(payload);
    return bytes.append(char(checksumOf(bytes)));
}

} // namespace SerialBytes
