#pragma once

#include "mdw/talven/frame.h"

#include <QByteArray>

// Frames as the tests write them: hex text, spaces for the reader only.
inline QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

inline QByteArray bytesOf(const talven::Frame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.length()));
}

// A received frame: a view of the first `held` bytes (all by default), as a driver hands them over.
inline talven::Frame frameOver(const QByteArray &bytes, int held = -1)
{
    return talven::Frame(
            ardo::SharedBuffer<uint8_t>::proxy(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                               size_t(held < 0 ? bytes.size() : held)));
}

// A well-formed MPDU of `node` announcing `count` ePDUs, followed by the bytes `ePdus`.
inline QByteArray mpdu(int node, int count, const char *ePdus = "")
{
    const QByteArray body = bytes(ePdus);
    return bytes("e2e2e2e2") + char(2 + body.size()) + char(0x80 | node) + char(count) + body;
}

// Node 5's answer: SV group 2 with an accelerometer sample of six bytes, then event 8 (joystick).
const QByteArray kNode5Mpdu = bytes("e2e2e2e2 0b 85 02 16 a1a2a3a4a5a6 c1 07");
// Network time 258 ms, cycle interval 1000 ms, slot duration 30 ms, SV groups 0 and 4.
const QByteArray kBeacon = bytes("c7c7c7c7 0c 00 02010000 e80300 1e00 1100");
