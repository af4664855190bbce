#pragma once

#include "mdw/serialcon/streamreader.h"
#include "mdw/talven/networkinterfacedriver.h"

#include <QSerialPort>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <string>

// The link to a Marlo gateway board on a serial port. Every transmitted frame goes out in a
// BEACON message; FRAME messages from the board are cut out of the byte stream (in any number of
// pieces, skipping noise up to the next sync byte) and handed to the receive handler with the
// board's reception time; DEBUG messages go to the debug output. The board is told with a link
// command when the port opens and before it closes.
// A port that fails (the board unplugged, the emulator gone) is closed at once and reported to the
// link state handler; the driver then looks for the device path once a second and reopens the
// port, with its link command, when the path is back. Meanwhile it is not open and sends nothing.
// Owned by the network engine; lives on the GUI thread, where the port's signals drive it.
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
    void setLinkStateHandler(LinkStateHandler handler) override;

    static constexpr size_t kMaxTransmitLength = 32;

    // How often a lost port's device path is looked for.
    static constexpr int kReopenIntervalMs = 1000;

private:
    bool openPort();
    void receive();
    void handleMessage(uint8_t type, const uint8_t *payload, uint8_t size, bool checksumMatches);
    void handleFrame(const uint8_t *payload, uint8_t size);
    void portFailed(QSerialPort::SerialPortError error);
    void tryReopen();

    bool opened_ = false;
    ReceiveHandler handler_;
    std::string portLocation_;
    QSerialPort port_;
    serialcon::StreamReader reader_;
    QMetaObject::Connection readConnection_;
    LinkStateHandler linkHandler_;
    bool linkUp_ = false;
    QTimer reopenTimer_;
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
