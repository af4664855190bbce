#pragma once

#include "mdw/talven/networkinterfacedriver.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <string>

// A link for tests: records every transmitted frame and lets the test hand frames to whatever
// receive handler is installed, with a reception time of its choosing. The engine that gets it
// owns and deletes it, so what a test must see after that goes to a Probe the test owns.
class RecordingDriver : public talven::NetworkInterfaceDriver
{
public:
    struct Probe
    {
        bool destroyed = false;
        // The handler that was still installed when the driver went; it is called with the
        // destruction frame, as a real driver may read its link while closing it.
        bool handlerCalledOnDestruction = false;
    };

    explicit RecordingDriver(Probe *probe = nullptr)
        : probe_(probe)
    {}

    ~RecordingDriver() override
    {
        if (probe_)
            probe_->destroyed = true;
        if (handler_ && !frameOnDestruction.isEmpty()) {
            if (probe_)
                probe_->handlerCalledOnDestruction = true;
            deliver(0, frameOnDestruction);
        }
    }

    std::string name() const override { return "Recording test link"; }
    bool open() override
    {
        open_ = true;
        return true;
    }
    bool isOpen() const override { return open_; }
    uint32_t address() const override { return 0xE2E2E2E2; }

    bool transmit(const uint8_t *data, size_t length) override
    {
        transmitted.append(QByteArray(reinterpret_cast<const char *>(data), int(length)));
        return transmitResult;
    }

    void setReceiveHandler(ReceiveHandler handler) override
    {
        handler_ = std::move(handler);
        ++handlerInstallations;
    }

    bool hasHandler() const { return bool(handler_); }

    // Hands the bytes themselves (no copy) to the installed handler; false when none is installed.
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
    bool transmitResult = true;
    int handlerInstallations = 0;
    QByteArray frameOnDestruction;

private:
    Probe *probe_;
    ReceiveHandler handler_;
    bool open_ = false;
};
