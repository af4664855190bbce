#include "gateway/verdicttext.h"

namespace verdict {

QString describe(Timing timing)
{
    switch (timing) {
    case Timing::InSlot:
        return QStringLiteral("in slot");
    case Timing::Early:
        return QStringLiteral("early");
    case Timing::Late:
        return QStringLiteral("late");
    case Timing::OutsideCycle:
        return QStringLiteral("outside any cycle");
    }
    return QString();
}

QString describe(FaultKind kind)
{
    switch (kind) {
    case FaultKind::InvalidSvGroup:
        return QStringLiteral("invalid SV group");
    case FaultKind::InvalidEvent:
        return QStringLiteral("invalid event");
    case FaultKind::FormatError:
        return QStringLiteral("format error");
    }
    return QString();
}

QString describe(const PayloadFault &fault)
{
    if (fault.kind == FaultKind::FormatError)
        return QStringLiteral("format error at ePDU %1, position %2")
                .arg(qulonglong(fault.ePduIndex))
                .arg(qulonglong(fault.position));
    return QStringLiteral("%1 %2 [%3]")
            .arg(describe(fault.kind))
            .arg(fault.id)
            .arg(QString::fromLatin1(fault.payload.toHex()));
}

QString describeJudgement(const Frame &frame)
{
    QString text = frame.timing == Timing::OutsideCycle
                           ? describe(frame.timing)
                           : QStringLiteral("%1 ms, %2 (slot %3-%4 ms)")
                                     .arg(int32_t(frame.delay))
                                     .arg(describe(frame.timing))
                                     .arg(frame.slotLower)
                                     .arg(frame.slotUpper);
    for (const PayloadFault &fault : frame.faults)
        text += QStringLiteral("; ") + describe(fault);
    return text;
}

QString describe(const Frame &frame)
{
    switch (frame.kind) {
    case FrameKind::Beacon:
        return QStringLiteral("beacon received");
    case FrameKind::Invalid:
        return QStringLiteral("invalid frame: %1 bytes, too short for a frame header")
                .arg(qulonglong(frame.length));
    case FrameKind::Mpdu:
        break;
    }
    return QStringLiteral("node %1: %2").arg(frame.node).arg(describeJudgement(frame));
}

} // namespace verdict
