#include "lumbrio-sim/mediumrecorder.h"

#include "lumbrio-sim/virtualnode.h"

#include <QPointer>

#include <chrono>

namespace lumbrio {

namespace {

int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

} // namespace

MediumRecorder::MediumRecorder(Log log, QObject *parent)
    : QObject(parent)
    , log_(std::move(log))
{
    flushSoon_.setSingleShot(true);
    flushSoon_.setInterval(0);
    connect(&flushSoon_, &QTimer::timeout, this, &MediumRecorder::flush);
}

bool MediumRecorder::open(const QString &path)
{
    return writer_.open(path, QStringLiteral("lumbrio-sim"));
}

void MediumRecorder::attach(Medium *medium, const QString &interfaceName)
{
    interface_ = writer_.addInterface(interfaceName);
    flush();
    // The medium may outlive the recorder (or the other way round): the tap checks.
    medium->setTap(
            [self = QPointer<MediumRecorder>(this)](const Station *from, const QByteArray &frame) {
                if (self)
                    self->record(from, frame);
            });
}

void MediumRecorder::record(const Station *from, const QByteArray &frame)
{
    const int64_t now = wallClockNs();
    const auto *node = dynamic_cast<const VirtualNode *>(from);
    QString comment;
    if (!node) {
        comment = QStringLiteral("from a client");
    } else if (node->pendingFault() == Fault::None) {
        comment = QStringLiteral("node %1 answers").arg(node->id());
    } else {
        comment = QStringLiteral("node %1 answers, %2 on purpose")
                          .arg(node->id())
                          .arg(faultName(node->pendingFault()));
    }
    writer_.writePacket(
            interface_, now, node ? capture::Direction::Outbound : capture::Direction::Inbound,
            reinterpret_cast<const uint8_t *>(frame.constData()), size_t(frame.size()), comment);
    if (!flushSoon_.isActive())
        flushSoon_.start();
}

void MediumRecorder::flush()
{
    if (writer_.flush() || failureSaid_)
        return;
    failureSaid_ = true;
    log_(QStringLiteral("recording to %1 stopped: %2")
                 .arg(writer_.fileName(), writer_.errorString()));
}

} // namespace lumbrio
