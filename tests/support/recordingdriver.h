#pragma once

#include "mdw/talven/networkinterfacedriver.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <string>

// A link for tests: records every transmitted frame and hands frames of the test, with a reception
// time of its choosing, to whatever receive handler is installed. Its owner deletes it, so what a
// test must see afterwards goes to a Probe the test owns. frameOnDestruction is input that arrives
// while the link closes, as it may on a real one.
class RecordingDriver : public talven::NetworkInterfaceDriver
{
public:
    struct Probe
    {
        bool destroyed = false;
    };

    explicit RecordingDriver(Probe *probe = nullptr)
        : probe_(probe)
    {}

    ~RecordingDriver() override
    {
        if (probe_)
            probe_->destroyed = true;
        if (!frameOnDestruction.isEmpty())
            deliver(0, frameOnDestruction);
    }

    std::string name() const override { return "Recording test link"; }
    bool open() override { return open_ = true; }
    bool isOpen() const override { return open_; }
    uint32_t address() const override { return 0xE2E2E2E2; }
    bool transmit(const uint8_t *data, size_t length) override
    {
        transmitted.append(QByteArray(reinterpret_cast<const char *>(data), int(length)));
        return true;
    }
    void setReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }
    void setLinkStateHandler(LinkStateHandler handler) override
    {
        linkHandler_ = std::move(handler);
    }

    // The link goes down or comes back, as the driver would report it.
    void setLink(bool up, const std::string &what = {})
    {
        if (linkHandler_)
            linkHandler_(up, what);
    }

    // Hands over the bytes themselves, not a copy; false when no handler is installed.
    bool deliver(uint32_t receptionTime, const uint8_t *data, size_t length)
    {
        if (!handler_)
            return false;
        handler_(*this, receptionTime, data, length);
        return true;
    }

    bool deliver(uint32_t receptionTime, const QByteArray &frame)
    {
        return deliver(receptionTime, reinterpret_cast<const uint8_t *>(frame.constData()),
                       size_t(frame.size()));
    }

    QList<QByteArray> transmitted;
    QByteArray frameOnDestruction;

private:
    Probe *probe_;
    ReceiveHandler handler_;
    LinkStateHandler linkHandler_;
    bool open_ = false;
};
