#pragma once

#include "mdw/talven/networkinterfacedriver.h"

#include <QByteArray>
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Link to the Lumbrio virtual network simulator, a separate program listening on TCP port 8844
// of the local machine. The driver announces itself there as a node with a name and a link
// address, then exchanges frames as length-prefixed messages: a 5-byte header (kind, big-endian
// payload length) and, for frames, a payload of preamble, frame bytes and X.25 CRC.
// Created by NrfLumbrioProber::InterfaceDescriptor; after open() the network engine owns it.
//
// Threads: the socket lives in a reader thread of its own, which takes the time of each message
// the moment its bytes arrive, so that a busy engine thread cannot make a frame look late. The
// frames, with their times, are queued to the thread that created the driver (the engine's), and
// the receive handler is called there, in arrival order. transmit() hands its message to the
// reader thread, which alone touches the socket.
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
    // False once the link is known to be down; otherwise the message is on its way to the socket.
    bool transmit(const uint8_t *data, size_t length) override;
    void setReceiveHandler(ReceiveHandler handler) override;
    // Taken in the reader thread when the frame's bytes came off the socket.
    int64_t receptionWallClockNs() const override;

private:
    class Reader;

    void deliver(uint32_t receptionTime, int64_t wallClockNs, const QByteArray &frame);

    bool opened_;
    uint32_t nodeAddress_;
    std::string nodeName_;
    ReceiveHandler handler_;
    int64_t receptionWallClockNs_ = 0;
    // Receives the reader's queued frames on the engine's thread; ends their delivery with it.
    QObject inbox_;
    std::unique_ptr<Reader> reader_;
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
