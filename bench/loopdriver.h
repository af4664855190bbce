#pragma once

#include "mdw/talven/frame.h"
#include "mdw/talven/networkinterfacedriver.h"

#include <QtEndian>

#include <string>

// A link for the benchmarks: keeps the engine's receive handler and the time of the last beacon
// it is given, and sends nothing anywhere.
class LoopDriver : public talven::NetworkInterfaceDriver
{
public:
    explicit LoopDriver(int slot)
        : slot_(slot)
    {}

    std::string name() const override { return "bench"; }
    bool open() override { return true; }
    bool isOpen() const override { return true; }
    uint32_t address() const override { return 0xE2E2E2E2; }
    bool transmit(const uint8_t *data, size_t length) override
    {
        if (length == talven::Beacon::kLength)
            beaconTime = qFromLittleEndian<quint32>(data + 6);
        return true;
    }
    void setReceiveHandler(ReceiveHandler handler) override { this->handler = std::move(handler); }

    // Hands over `mpdu` `offsetSlots` slot durations after the beacon.
    void receive(const talven::MultiPdu &mpdu, double offsetSlots)
    {
        handler(*this, beaconTime + uint32_t(offsetSlots * slot_), mpdu.data(), mpdu.length());
    }

    ReceiveHandler handler;
    uint32_t beaconTime = 0;

private:
    int slot_;
};
