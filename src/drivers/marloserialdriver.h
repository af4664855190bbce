#pragma once

#include "mdw/talven/networkinterfacedriver.h"

#include <QSerialPort>

#include <cstddef>
#include <cstdint>
#include <string>

// The link to a Marlo gateway board on a serial port. Every transmitted frame goes out in a
// BEACON message; FRAME messages from the board are cut out of the byte stream (in any number of
// pieces, skipping noise up to the next sync byte) and handed to the receive handler with the
// board's reception time; DEBUG messages go to the debug output. The board is told with a link
// command when the port opens and before it closes.
// Owned by the network engine; lives on the GUI thread, where the port's readyRead drives it.
class MarloSerialDriver : public talven::NetworkInterfaceDriver
{
public:
    explicit MarloSerialDriver(const std::string &portLocation);
    ~MarloSerialDriver() override;

    MarloSerialDriver(const MarloSerialDriver &) = delete;
    MarloSerialDriver &operator=(const MarloSerialDriver &) = delete;

    std::string name() const override;
    bool open() override;
    bool isOpen() const override;
    uint32_t address() const override;
    // Frames of up to 32 bytes; nothing is written for a longer one or before open().
    bool transmit(const uint8_t *data, size_t length) override;
    void setReceiveHandler(ReceiveHandler handler) override;

    static constexpr size_t kMaxTransmitLength = 32;

private:
    void receive();
    void handleMessage(uint8_t checksum);
    void handleFrame(uint8_t checksum);
    void releasePayload();

    bool opened_ = false;
    ReceiveHandler handler_;
    std::string portLocation_;
    QSerialPort port_;
    int receptionState_ = 0;
    uint8_t messageType_ = 0;
    uint8_t payloadSize_ = 0;
    uint8_t *payload_ = nullptr;
};

// Offers one interface per serial port present at start-up, in enumeration order. Its single
// instance is constructed during static initialisation, before the simulator's prober.
class MarloSerialProber
{
public:
    // One serial port: shown as "Marlo Gateway at <port name>", opened by its system location.
    class InterfaceDescriptor : public talven::NetworkInterfaceDriver::Descriptor
    {
    public:
        InterfaceDescriptor(const std::string &text, const std::string &location);

        std::string name() const override;
        std::string location() const override;
        talven::NetworkInterfaceDriver *instantiate() const override;

    private:
        std::string text_;
        std::string location_;
    };

    MarloSerialProber();
};
