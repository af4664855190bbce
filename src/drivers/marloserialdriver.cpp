#include "drivers/marloserialdriver.h"

#include "mdw/serialcon/msg.h"

#include <QByteArray>
#include <QDebug>
#include <QSerialPortInfo>
#include <QString>
#include <QtEndian>

#include <cstring>

namespace {

using serialcon::Msg;

constexpr uint32_t kGatewayAddress = 0xE2E2E2E2;

const char kLinkUp[] = {'\x7F', '\x01', '\x02', '\x01', '\x01', '\x7B'};
const char kLinkDown[] = {'\x7F', '\x01', '\x02', '\x01', '\x02', '\x7A'};

constexpr int kCloseTimeoutMs = 1000;

enum ReceptionState {
    AwaitingSync = 0,
    AwaitingType = 1,
    AwaitingSize = 2,
    AwaitingPayload = 3,
    AwaitingChecksum = 4,
};

// In a FRAME payload the board puts its reception time between the common frame header and the
// frame body.
constexpr size_t kFrameHeaderLength = 6;
constexpr size_t kTimeLength = 4;

uint8_t readByte(QSerialPort &port)
{
    char byte = 0;
    port.getChar(&byte);
    return static_cast<uint8_t>(byte);
}

} // namespace

MarloSerialDriver::MarloSerialDriver(const std::string &portLocation)
    : portLocation_(portLocation)
{}

MarloSerialDriver::~MarloSerialDriver()
{
    // Waiting for the closing command to be written delivers pending input through readyRead:
    // nothing received from here on may reach a handler whose owner is already going away.
    QObject::disconnect(&port_, &QSerialPort::readyRead, nullptr, nullptr);
    handler_ = nullptr;

    const bool wasOpen = opened_;
    opened_ = false;
    if (wasOpen && port_.isOpen()) {
        port_.write(kLinkDown, sizeof kLinkDown);
        port_.waitForBytesWritten(kCloseTimeoutMs);
    }
    releasePayload();
}

std::string MarloSerialDriver::name() const
{
    return portLocation_;
}

bool MarloSerialDriver::open()
{
    port_.setPortName(QString::fromStdString(portLocation_));
    if (!port_.open(QIODevice::ReadWrite))
        return false;

    port_.setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    port_.setDataBits(QSerialPort::Data8);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setParity(QSerialPort::NoParity);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setDataTerminalReady(true);

    QObject::connect(
            &port_, &QSerialPort::readyRead, &port_, [this] { receive(); }, Qt::DirectConnection);

    // Whatever the board said before we were listening belongs to no message we can place.
    port_.readAll();
    port_.clear(QSerialPort::AllDirections);

    port_.write(kLinkUp, sizeof kLinkUp);
    opened_ = true;
    return true;
}

bool MarloSerialDriver::isOpen() const
{
    return opened_;
}

uint32_t MarloSerialDriver::address() const
{
    return kGatewayAddress;
}

bool MarloSerialDriver::transmit(const uint8_t *data, size_t length)
{
    if (!opened_ || !port_.isOpen())
        return false;
    if (length > kMaxTransmitLength)
        return false;

    QByteArray message;
    message.reserve(int(length + Msg::kOverhead));
    message.append(char(Msg::kSyncByte));
    message.append(char(Msg::BEACON));
    message.append(char(length));
    message.append(reinterpret_cast<const char *>(data), int(length));
    message.append(char(Msg::checksumOf(reinterpret_cast<const uint8_t *>(message.constData()),
                                        size_t(message.size()))));
    port_.write(message);
    return true;
}

void MarloSerialDriver::setReceiveHandler(ReceiveHandler handler)
{
    handler_ = std::move(handler);
}

void MarloSerialDriver::receive()
{
    while (port_.bytesAvailable() > 0) {
        switch (receptionState_) {
        case AwaitingSync:
            if (readByte(port_) == Msg::kSyncByte)
                receptionState_ = AwaitingType;
            break;
        case AwaitingType:
            messageType_ = readByte(port_);
            receptionState_ = AwaitingSize;
            break;
        case AwaitingSize:
            payloadSize_ = readByte(port_);
            releasePayload();
            payload_ = new uint8_t[payloadSize_];
            receptionState_ = AwaitingPayload;
            break;
        case AwaitingPayload:
            if (port_.bytesAvailable() < payloadSize_)
                return;
            port_.read(reinterpret_cast<char *>(payload_), payloadSize_);
            receptionState_ = AwaitingChecksum;
            break;
        case AwaitingChecksum:
            receptionState_ = AwaitingSync;
            handleMessage(readByte(port_));
            break;
        }
    }
}

void MarloSerialDriver::handleMessage(uint8_t checksum)
{
    switch (messageType_) {
    case Msg::FRAME:
        handleFrame(checksum);
        break;
    case Msg::DEBUG:
        qDebug().noquote() << QString::fromUtf8(reinterpret_cast<const char *>(payload_),
                                                payloadSize_);
        break;
    default:
        break;
    }
}

void MarloSerialDriver::handleFrame(uint8_t checksum)
{
    if (!handler_)
        return;

    uint8_t sum = Msg::kSyncByte + Msg::FRAME + payloadSize_;
    for (size_t i = 0; i < payloadSize_; ++i)
        sum += payload_[i];
    if (checksum != uint8_t(~sum))
        return;

    // Without a whole frame header and a time there is no frame to deliver, and its length
    // would wrap around below.
    if (payloadSize_ < kFrameHeaderLength + kTimeLength)
        return;

    const uint32_t receptionTime = qFromLittleEndian<quint32>(payload_ + kFrameHeaderLength);
    const size_t frameLength = payloadSize_ - kTimeLength;
    std::memmove(payload_ + kFrameHeaderLength, payload_ + kFrameHeaderLength + kTimeLength,
                 frameLength - kFrameHeaderLength);

    if (receptionTime == 0) {
        qDebug() << "Error: Bad reception time for received frame!";
        return;
    }
    handler_(*this, receptionTime, payload_, frameLength);
}

void MarloSerialDriver::releasePayload()
{
    delete[] payload_;
    payload_ = nullptr;
}

MarloSerialProber::InterfaceDescriptor::InterfaceDescriptor(const std::string &text,
                                                            const std::string &location)
    : text_(text)
    , location_(location)
{}

std::string MarloSerialProber::InterfaceDescriptor::name() const
{
    return text_;
}

std::string MarloSerialProber::InterfaceDescriptor::location() const
{
    return location_;
}

talven::NetworkInterfaceDriver *MarloSerialProber::InterfaceDescriptor::instantiate() const
{
    return new MarloSerialDriver(location_);
}

MarloSerialProber::MarloSerialProber()
{
    // Each descriptor registers itself and lives until the process ends.
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        new InterfaceDescriptor(QString("Marlo Gateway at %1").arg(info.portName()).toStdString(),
                                info.systemLocation().toStdString());
    }
}
