#include "capture/framerecorder.h"

#include "gateway/verdicttext.h"

#include <chrono>

namespace capture {

bool FrameRecorder::open(const QString &path, const QString &program)
{
    recording_ = false;
    return writer_.open(path, program);
}

bool FrameRecorder::setInterface(const QString &interfaceName)
{
    if (!writer_.isOpen())
        return false;
    interface_ = writer_.addInterface(interfaceName);
    recording_ = true;
    return writer_.flush();
}

void FrameRecorder::close()
{
    recording_ = false;
    writer_.close();
}

void FrameRecorder::beaconSent(const verdict::Beacon &beacon)
{
    if (!recording_)
        return;
    // Told right after the driver took the beacon: now is when it went out.
    QString comment = QStringLiteral("beacon of cycle %1").arg(beacon.cycle);
    if (!beacon.transmitted)
        comment += QStringLiteral(", refused by the driver");
    writer_.writePacket(interface_, wallClockNs(), Direction::Outbound,
                        reinterpret_cast<const uint8_t *>(beacon.frame.constData()),
                        size_t(beacon.frame.size()), comment);
}

void FrameRecorder::frameJudged(const verdict::Frame &frame)
{
    if (!recording_)
        return;
    writer_.writePacket(interface_, frame.wallClockNs > 0 ? frame.wallClockNs : wallClockNs(),
                        Direction::Inbound, frame.bytes, frame.length, verdict::describe(frame));
}

void FrameRecorder::cycleClosed(verdict::CycleNumber)
{
    writer_.flush();
}

int64_t FrameRecorder::wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

} // namespace capture
