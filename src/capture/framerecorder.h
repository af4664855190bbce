#pragma once

#include "capture/pcapngwriter.h"
#include "gateway/verdict.h"

#include <QString>

#include <cstdint>

namespace capture {

// Records what the engine sends and receives: every beacon it hands to the driver (outbound)
// and every frame the driver hands to it (inbound), with the engine's verdict as the comment.
// Register it with TalvenNetwork::addObserver() once it is open and knows its interface. The
// file is flushed whenever a cycle closes, so a crash loses at most the cycle that runs. Lives
// on the engine's thread.
class FrameRecorder : public verdict::Observer
{
public:
    FrameRecorder() = default;

    // Creates `path` for `program` (named with the project's version in the file). False with
    // errorString() set when the file cannot be written.
    bool open(const QString &path, const QString &program);
    // Describes the engine's link; frames are recorded from now on.
    bool setInterface(const QString &interfaceName);
    // Flushes what is left and closes the file.
    void close();
    bool isOpen() const { return writer_.isOpen(); }
    QString fileName() const { return writer_.fileName(); }
    QString errorString() const { return writer_.errorString(); }
    // A write failed since open(): recording has stopped.
    bool hasFailed() const { return writer_.hasFailed(); }
    uint64_t frameCount() const { return writer_.packetCount(); }

    void beaconSent(const verdict::Beacon &beacon) override;
    void frameJudged(const verdict::Frame &frame) override;
    void cycleClosed(verdict::CycleNumber cycle) override;

    // Nanoseconds since the epoch, the time base of the recorded time stamps.
    static int64_t wallClockNs();

private:
    PcapngWriter writer_;
    uint32_t interface_ = 0;
    bool recording_ = false;
};

} // namespace capture
