#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <functional>

namespace lumbrio {

// Anything on the simulated radio: a connected client or a virtual node.
class Station
{
public:
    virtual ~Station();

    // The four address bytes in wire order, as the station announced them; empty while it has
    // none (virtual nodes never have one: they only hear beacons).
    virtual QByteArray address() const = 0;
    virtual void receive(const QByteArray &frame) = 0;
};

// The radio medium: a frame goes to every other station whose address equals the frame's
// destination; a frame to the beacon address goes to every other station. Nobody hears its own
// frames. Plain object owned by the simulator; it does not own the stations.
class Medium
{
public:
    // Told of every frame put on the medium, before it is delivered.
    using Tap = std::function<void(const Station *from, const QByteArray &frame)>;

    static const QByteArray &beaconAddress();

    void attach(Station *station);
    void detach(Station *station);
    int stationCount() const { return stations_.size(); }

    // Delivers `frame` and returns the number of stations that received it. A frame too short
    // to hold a destination goes nowhere.
    int send(const Station *from, const QByteArray &frame);
    void setTap(Tap tap) { tap_ = std::move(tap); }
    // Started when the frame being delivered was put on the medium. A station that times its
    // answer from a frame it hears counts from here, not from its own turn among the receivers.
    const QElapsedTimer &sendClock() const { return sent_; }

private:
    QList<Station *> stations_;
    Tap tap_;
    QElapsedTimer sent_;
};

} // namespace lumbrio
