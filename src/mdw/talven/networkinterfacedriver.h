#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace talven {

// The link through which the gateway reaches the sensor network. A driver wraps every frame it
// transmits in its link's framing, strips that framing from what it receives and hands each
// received frame, with its reception time in milliseconds since local midnight, to the stored
// receive handler. A driver calls the handler on the thread that created it (the engine's), in
// arrival order; it may read its device in a thread of its own to time the frames exactly.
class NetworkInterfaceDriver
{
public:
    // `data` holds one whole frame and is valid only during the call.
    using ReceiveHandler
            = std::function<void(NetworkInterfaceDriver &driver, uint32_t receptionTime,
                                 const uint8_t *data, size_t length)>;
    // Told when the link goes down (`up` false, `what` says why) and when it is back.
    using LinkStateHandler = std::function<void(bool up, const std::string &what)>;

    // One selectable interface. Descriptors are created by the probers during static
    // initialisation, register themselves and live until the process ends.
    class Descriptor
    {
    public:
        Descriptor();
        virtual ~Descriptor();

        Descriptor(const Descriptor &) = delete;
        Descriptor &operator=(const Descriptor &) = delete;

        // The text shown in the choice list.
        virtual std::string name() const = 0;
        virtual std::string location() const = 0;
        // A new driver, not yet opened; the caller owns it.
        virtual NetworkInterfaceDriver *instantiate() const = 0;

        // A copy of the registry, in registration order.
        static std::vector<Descriptor *> availableDescriptors();
    };

    virtual ~NetworkInterfaceDriver();

    virtual std::string name() const = 0;
    virtual bool open() = 0;
    virtual bool isOpen() const = 0;
    virtual uint32_t address() const = 0;
    virtual bool transmit(const uint8_t *data, size_t length) = 0;
    virtual void setReceiveHandler(ReceiveHandler handler) = 0;

    // The wall clock, in nanoseconds since the epoch, when the driver took the frame now being
    // handed to the receive handler. Meaningful only during a call of the handler; this default
    // reads the clock now, which is right for drivers that call the handler as the bytes arrive.
    virtual int64_t receptionWallClockNs() const;

    // Stores the callback for link losses and restorations, called on the driver's thread once
    // per change. A driver that cannot lose its link keeps this default and never calls it.
    virtual void setLinkStateHandler(LinkStateHandler handler);
};

} // namespace talven
