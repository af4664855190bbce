#pragma once

#include "mdw/talven/networkinterfacedriver.h"

#include <QByteArray>
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
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
//
// A lost connection is told to the link state handler (on the engine's thread); the reader then
// tries to connect again, first after 250 ms and then at most every 2 s, and once connected it
// announces the name and address again and tells the handler that the link is back.
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
    void setLinkStateHandler(LinkStateHandler handler) override;
    // Taken in the reader thread when the frame's bytes came off the socket.
    int64_t receptionWallClockNs() const override;

    // Cuts the simulator's messages out of a stream: calls `frame` with the position and length
    // of the frame inside every whole frame message, in order. A header that announces more than
    // the largest frame message is no header; the search goes on at the next byte. Returns the
    // number of bytes used up; the rest starts a message that is not whole yet.
    static int cutFrames(const QByteArray &bytes,
                         const std::function<void(int at, int length)> &frame);

private:
    class Reader;

    void deliver(uint32_t receptionTime, int64_t wallClockNs, const QByteArray &frame);
    void linkChanged(bool up, const std::string &what);

    bool opened_;
    uint32_t nodeAddress_;
    std::string nodeName_;
    ReceiveHandler handler_;
    LinkStateHandler linkHandler_;
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
