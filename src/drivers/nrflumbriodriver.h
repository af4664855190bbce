#pragma once

#include "mdw/talven/networkinterfacedriver.h"

#include <QTcpSocket>

#include <cstddef>
#include <cstdint>
#include <string>

// Link to the Lumbrio virtual network simulator, a separate program listening on TCP port 8844
// of the local machine. The driver announces itself there as a node with a name and a link
// address, then exchanges frames as length-prefixed messages: a 5-byte header (kind, big-endian
// payload length) and, for frames, a payload of preamble, frame bytes and X.25 CRC.
// Created by NrfLumbrioProber::InterfaceDescriptor; after open() the network engine owns it.
// Lives on the GUI thread; the receive handler is called from the socket's readyRead.
class NrfLumbrioDriver : public talven::NetworkInterfaceDriver
{
public:
    NrfLumbrioDriver(uint32_t nodeAddress, const std::string &nodeName);
    ~NrfLumbrioDriver() override;

    NrfLumbrioDriver(const NrfLumbrioDriver &) = delete;
    NrfLumbrioDriver &operator=(const NrfLumbrioDriver &) = delete;

    std::string name() const override;
    // Blocks for up to 5000 ms while connecting, then 10 ms between the two announcements.
    bool open() override;
    bool isOpen() const override;
    uint32_t address() const override;
    bool transmit(const uint8_t *data, size_t length) override;
    void setReceiveHandler(ReceiveHandler handler) override;

private:
    bool writeMessage(const QByteArray &message);
    void receive();

    bool opened_;
    uint32_t nodeAddress_;
    std::string nodeName_;
    ReceiveHandler handler_;
    QTcpSocket socket_;
};

// Offers the simulator as the one interface of its kind, whether or not it is running: that is
// only found out when the driver opens. Its single static instance lives in probers.cpp.
class NrfLumbrioProber
{
public:
    // Registers itself on construction and lives until the process ends.
    class InterfaceDescriptor : public talven::NetworkInterfaceDriver::Descriptor
    {
    public:
        explicit InterfaceDescriptor(const std::string &text);

        std::string name() const override;
        std::string location() const override;
        talven::NetworkInterfaceDriver *instantiate() const override;

    private:
        std::string text_;
    };

    NrfLumbrioProber();
};
