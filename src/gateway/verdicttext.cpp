#include "gateway/verdicttext.h"

namespace verdict {

namespace {

// The texts are built by appending to one string: a capture writes one per received frame, and
// QString::arg() chains would make that the dearest part of recording it.
void appendNumber(QString &text, long long value)
{
    char digits[24];
    int count = 0;
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        text += QLatin1Char('-');
    while (count > 0)
        text += QLatin1Char(digits[--count]);
}

void appendHex(QString &text, const QByteArray &bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    for (const char byte : bytes) {
        text += QLatin1Char(kDigits[(uchar(byte) >> 4) & 0xF]);
        text += QLatin1Char(kDigits[uchar(byte) & 0xF]);
    }
}

void appendFault(QString &text, const PayloadFault &fault)
{
    if (fault.kind == FaultKind::FormatError) {
        text += QLatin1String("format error at ePDU ");
        appendNumber(text, static_cast<long long>(fault.ePduIndex));
        text += QLatin1String(", position ");
        appendNumber(text, static_cast<long long>(fault.position));
        return;
    }
    text += describe(fault.kind);
    text += QLatin1Char(' ');
    appendNumber(text, fault.id);
    text += QLatin1String(" [");
    appendHex(text, fault.payload);
    text += QLatin1Char(']');
}

void appendJudgement(QString &text, const Frame &frame)
{
    if (frame.timing == Timing::OutsideCycle) {
        text += describe(frame.timing);
    } else {
        appendNumber(text, static_cast<int32_t>(frame.delay));
        text += QLatin1String(" ms, ");
        text += describe(frame.timing);
        text += QLatin1String(" (slot ");
        appendNumber(text, frame.slotLower);
        text += QLatin1Char('-');
        appendNumber(text, frame.slotUpper);
        text += QLatin1String(" ms)");
    }
    for (const PayloadFault &fault : frame.faults) {
        text += QLatin1String("; ");
        appendFault(text, fault);
    }
}

constexpr int kTypicalLength = 96;

} // namespace

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
    QString text;
    appendFault(text, fault);
    return text;
}

QString describeJudgement(const Frame &frame)
{
    QString text;
    text.reserve(kTypicalLength);
    appendJudgement(text, frame);
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
    QString text;
    text.reserve(kTypicalLength);
    text += QLatin1String("node ");
    appendNumber(text, frame.node);
    text += QLatin1String(": ");
    appendJudgement(text, frame);
    return text;
}

} // namespace verdict
