#include "marlo-emu/link.h"

#include "mdw/serialcon/msg.h"
#include "mdw/talven/frame.h"

#include <QTime>

#include <algorithm>

namespace marlo {

namespace {

using serialcon::Msg;

constexpr uint8_t kLinkCommand = 1;
constexpr uint32_t kLinkOpened = 1;
constexpr uint32_t kLinkClosed = 2;
// What the FRAME message's size byte can describe: the frame and its four time bytes.
constexpr int kMinFrameLength = 6;
constexpr int kMaxFrameLength = 251;

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

Msg msgOf(const QByteArray &bytes)
{
    return Msg(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
}

} // namespace

Link::Link(bool verbose, Log log, QObject *parent)
    : QObject(parent)
    , verbose_(verbose)
    , log_(std::move(log))
{}

void Link::receiveFromPc(const QByteArray &bytes)
{
    reader_.append(bytes);
    seriallink::Message message;
    while (reader_.next(&message))
        handle(message);
}

void Link::handle(const seriallink::Message &message)
{
    if (!message.checksumMatches) {
        sendDebug(QStringLiteral("dropped a message with a bad checksum"));
        return;
    }
    switch (message.type) {
    case Msg::CMD:
        handleCommand(message.bytes);
        break;
    case Msg::BEACON:
        handleBeacon(message.bytes);
        break;
    default:
        sendDebug(QStringLiteral("dropped a message of type %1").arg(message.type));
        break;
    }
}

void Link::handleCommand(const QByteArray &bytes)
{
    const Msg msg = msgOf(bytes);
    if (!msg.isWellFormedCommand()) {
        sendDebug(QStringLiteral("dropped a command of %1 bytes").arg(msg.payloadSize()));
        return;
    }
    const uint8_t command = msg.command();
    const uint32_t argument = msg.commandArgument();
    if (verbose_)
        log_(QStringLiteral("pc: command %1, argument %2").arg(command).arg(argument));
    if (command != kLinkCommand) {
        sendDebug(QStringLiteral("unknown command %1").arg(command));
        return;
    }
    if (argument == kLinkOpened) {
        up_ = true;
        log_(QStringLiteral("link up"));
        sendDebug(QStringLiteral("link up"));
    } else if (argument == kLinkClosed) {
        up_ = false;
        log_(QStringLiteral("link down"));
        emit wentDown();
    } else {
        sendDebug(QStringLiteral("unknown link argument %1").arg(argument));
    }
}

void Link::handleBeacon(const QByteArray &bytes)
{
    const Msg msg = msgOf(bytes);
    if (msg.payloadSize() == 0) {
        sendDebug(QStringLiteral("dropped an empty frame"));
        return;
    }
    const QByteArray frame(reinterpret_cast<const char *>(msg.payload()), msg.payloadSize());
    if (verbose_) {
        phy::Address<4> destination;
        uint32_t time = 0, interval = 0;
        uint16_t slot = 0, mask = 0;
        if (msg.beaconInfo(destination, time, interval, slot, mask))
            log_(QStringLiteral("pc: beacon, time %1, interval %2 ms, slot %3 ms, mask %4")
                         .arg(time)
                         .arg(interval)
                         .arg(slot)
                         .arg(mask, 4, 16, QLatin1Char('0')));
        else
            log_(QStringLiteral("pc: frame %1").arg(hex(frame)));
    }
    emit sendToRadio(frame);
}

void Link::frameHeard(const QByteArray &frame)
{
    if (!up_) {
        if (verbose_)
            log_(QStringLiteral("radio: frame %1 heard while the link is down").arg(hex(frame)));
        return;
    }
    if (frame.size() < kMinFrameLength || frame.size() > kMaxFrameLength) {
        sendDebug(QStringLiteral("heard a frame of %1 bytes, not passed on").arg(frame.size()));
        return;
    }
    // The board's clock counts from local midnight like the PC's; 0 would read as "no time".
    const uint32_t now = std::max(1, QTime::currentTime().msecsSinceStartOfDay());
    const talven::Frame heard(ardo::SharedBuffer<uint8_t>::proxy(
            reinterpret_cast<const uint8_t *>(frame.constData()), size_t(frame.size())));
    Msg msg(now, heard);
    msg.setChecksum(msg.computeChecksum());
    if (verbose_)
        log_(QStringLiteral("radio: at %1 frame %2").arg(now).arg(hex(frame)));
    emit sendToPc(QByteArray(reinterpret_cast<const char *>(msg.buffer().data()),
                             int(msg.buffer().size())));
}

void Link::sendDebug(const QString &text)
{
    if (up_)
        emit sendToPc(seriallink::message(Msg::DEBUG, text.toUtf8().left(255)));
}

} // namespace marlo
