#include "marlo-emu/impairments.h"

#include "common/seriallink.h"

#include <algorithm>

namespace marlo {

namespace {

QByteArray noiseFor(const Impairments &impairments, QRandomGenerator &dice)
{
    QByteArray bytes;
    if (impairments.noiseSync) {
        // A false start: the sync byte, then anything; the reader must still find the message.
        bytes.append(char(seriallink::kSyncByte));
        const int count = int(dice.bounded(8));
        for (int i = 0; i < count; ++i)
            bytes.append(char(dice.bounded(256)));
    } else if (impairments.noise) {
        const int count = 1 + int(dice.bounded(8));
        for (int i = 0; i < count; ++i) {
            // Any byte but the sync byte: noise must not look like the start of a message.
            const uint8_t byte = uint8_t(dice.bounded(255));
            bytes.append(char(byte >= seriallink::kSyncByte ? byte + 1 : byte));
        }
    }
    return bytes;
}

// Two to four pieces, cut at distinct random places.
QList<QByteArray> cut(const QByteArray &bytes, QRandomGenerator &dice)
{
    const int cuts = std::min(1 + int(dice.bounded(3)), bytes.size() - 1);
    QList<int> at;
    while (at.size() < cuts) {
        const int cut = 1 + int(dice.bounded(bytes.size() - 1));
        if (!at.contains(cut))
            at.append(cut);
    }
    std::sort(at.begin(), at.end());
    QList<QByteArray> pieces;
    int from = 0;
    for (int cut : qAsConst(at)) {
        pieces.append(bytes.mid(from, cut - from));
        from = cut;
    }
    pieces.append(bytes.mid(from));
    return pieces;
}

} // namespace

QList<QByteArray> impair(QByteArray message, const Impairments &impairments, QRandomGenerator &dice)
{
    if (impairments.corruptChecksumRate > 0 && !message.isEmpty()
        && dice.generateDouble() < impairments.corruptChecksumRate) {
        // The checksum, and nothing else, becomes any value but the right one.
        const int last = message.size() - 1;
        message[last] = char(uint8_t(message[last]) + 1 + dice.bounded(255));
    }
    const QByteArray bytes = noiseFor(impairments, dice) + message;
    return impairments.split ? cut(bytes, dice) : QList<QByteArray>{bytes};
}

} // namespace marlo
