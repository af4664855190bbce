#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

namespace marlo {

// How the board misbehaves on the line, for tests of the PC's reader.
struct Impairments
{
    // 1 to 8 random bytes (never the sync byte) before each message.
    bool noise = false;
    // Instead, a false start before each message: the sync byte and 0 to 7 random bytes.
    bool noiseSync = false;
    // Each message written in 2 to 4 pieces.
    bool split = false;
    // The share of messages whose checksum is wrong.
    double corruptChecksumRate = 0;
};

// The pieces in which the board writes one whole message (checksum included) to the PC: the
// message spoilt as `impairments` ask, the dice deciding where and how. Without impairments, the
// message in one piece and no roll of the dice.
QList<QByteArray> impair(QByteArray message, const Impairments &impairments,
                         QRandomGenerator &dice);

} // namespace marlo
