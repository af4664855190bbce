#include "lumbrio-sim/medium.h"

namespace lumbrio {

namespace {

constexpr int kAddressLength = 4;

} // namespace

Station::~Station() = default;

const QByteArray &Medium::beaconAddress()
{
    static const QByteArray address(kAddressLength, char(0xC7));
    return address;
}

void Medium::attach(Station *station)
{
    if (!stations_.contains(station))
        stations_.append(station);
}

void Medium::detach(Station *station)
{
    stations_.removeAll(station);
}

int Medium::send(const Station *from, const QByteArray &frame)
{
    sent_.start();
    if (tap_)
        tap_(from, frame);
    if (frame.size() < kAddressLength)
        return 0;
    const QByteArray destination = frame.left(kAddressLength);
    const bool broadcast = destination == beaconAddress();

    // A receiver may leave the medium while it is being served (its socket fails on write).
    const QList<Station *> receivers = stations_;
    int delivered = 0;
    for (Station *station : receivers) {
        if (station == from || !stations_.contains(station))
            continue;
        if (broadcast || station->address() == destination) {
            station->receive(frame);
            ++delivered;
        }
    }
    return delivered;
}

} // namespace lumbrio
