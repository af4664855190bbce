#include "drivers/marloserialdriver.h"

#include "mdw/serialcon/msg.h"
#include "mdw/talven/frame.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QSerialPortInfo>
#include <QString>
#include <QtEndian>

#include <cstring>

namespace {

using serialcon::Msg;

// The gateway answers to the address every MPDU is sent to; as one number, its wire-order bytes
// read big-endian.
uint32_t gatewayAddress()
{
    return qFromBigEndian<quint32>(talven::MPDU_ADDRESS.bytes());
}

const char kLinkUp[] = {'\x7F', '\x01', '\x02', '\x01', '\x01', '\x7B'};
const char kLinkDown[] = {'\x7F', '\x01', '\x02', '\x01', '\x02', '\x7A'};

constexpr int kCloseTimeoutMs = 1000;

// In a FRAME payload the board puts its reception time between the common frame header and the
// frame body.
constexpr size_t kFrameHeaderLength = 6;
constexpr size_t kTimeLength = 4;

// What a failing port reports when its device is gone; other errors (a setting the device does
// not support) leave the link as it is.
bool meansLinkLost(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError
           || error == QSerialPort::WriteError;
}

} // namespace

MarloSerialDriver::MarloSerialDriver(const std::string &portLocation)
    : portLocation_(portLocation)
{
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { portFailed(error); });
    reopenTimer_.setInterval(kReopenIntervalMs);
    QObject::connect(&reopenTimer_, &QTimer::timeout, &reopenTimer_, [this] { tryReopen(); });
}

MarloSerialDriver::~MarloSerialDriver()
{
    // Waiting for the closing command to be written delivers pending input through readyRead:
    // nothing received from here on may reach a handler whose owner is already going away.
    QObject::disconnect(&port_, nullptr, &port_, nullptr);
    handler_ = nullptr;
    linkHandler_ = nullptr;
    reopenTimer_.stop();

    const bool wasOpen = opened_;
    opened_ = false;
    if (wasOpen && port_.isOpen()) {
        port_.write(kLinkDown, sizeof kLinkDown);
        port_.waitForBytesWritten(kCloseTimeoutMs);
    }
}

std::string MarloSerialDriver::name() const
{
    return portLocation_;
}

bool MarloSerialDriver::open()
{
    if (!openPort())
        return false;
    opened_ = true;
    linkUp_ = true;
    return true;
}

bool MarloSerialDriver::openPort()
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

    readConnection_ = QObject::connect(
            &port_, &QSerialPort::readyRead, &port_, [this] { receive(); }, Qt::DirectConnection);

    // Whatever the board said before we were listening belongs to no message we can place.
    port_.readAll();
    port_.clear(QSerialPort::AllDirections);
    reader_.reset();

    port_.write(kLinkUp, sizeof kLinkUp);
    return true;
}

bool MarloSerialDriver::isOpen() const
{
    return opened_ && linkUp_;
}

uint32_t MarloSerialDriver::address() const
{
    return gatewayAddress();
}

bool MarloSerialDriver::transmit(const uint8_t *data, size_t length)
{
    if (!isOpen() || !port_.isOpen())
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

void MarloSerialDriver::setLinkStateHandler(LinkStateHandler handler)
{
    linkHandler_ = std::move(handler);
}

void MarloSerialDriver::receive()
{
    const QByteArray bytes = port_.readAll();
    reader_.feed(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()),
                 [this](uint8_t type, const uint8_t *payload, uint8_t size, bool checksumMatches) {
                     handleMessage(type, payload, size, checksumMatches);
                 });
}

void MarloSerialDriver::handleMessage(uint8_t type, const uint8_t *payload, uint8_t size,
                                      bool checksumMatches)
{
    switch (type) {
    case Msg::FRAME:
        if (checksumMatches)
            handleFrame(payload, size);
        break;
    case Msg::DEBUG:
        qDebug().noquote() << QString::fromUtf8(reinterpret_cast<const char *>(payload), size);
        break;
    default:
        break;
    }
}

void MarloSerialDriver::handleFrame(const uint8_t *payload, uint8_t size)
{
    if (!handler_)
        return;
    // Without a whole frame header and a time there is no frame to deliver, and its length
    // would wrap around below.
    if (size < kFrameHeaderLength + kTimeLength)
        return;

    const uint32_t receptionTime = qFromLittleEndian<quint32>(payload + kFrameHeaderLength);
    if (receptionTime == 0) {
        qDebug() << "Error: Bad reception time for received frame!";
        return;
    }
    uint8_t frame[255];
    const size_t frameLength = size - kTimeLength;
    std::memcpy(frame, payload, kFrameHeaderLength);
    std::memcpy(frame + kFrameHeaderLength, payload + kFrameHeaderLength + kTimeLength,
                frameLength - kFrameHeaderLength);
    handler_(*this, receptionTime, frame, frameLength);
}

void MarloSerialDriver::portFailed(QSerialPort::SerialPortError error)
{
    if (!linkUp_ || !meansLinkLost(error))
        return;
    // A dead device keeps raising errors (about a million a second): stop reading it at once.
    // The port is closed from the event loop, because this runs inside the port's own
    // notification handling.
    linkUp_ = false;
    QObject::disconnect(readConnection_);
    const QString reason = port_.errorString();
    QMetaObject::invokeMethod(
            &port_,
            [this] {
                port_.close();
                reader_.reset();
            },
            Qt::QueuedConnection);
    reopenTimer_.start();
    if (linkHandler_)
        linkHandler_(false, reason.toStdString());
}

void MarloSerialDriver::tryReopen()
{
    if (linkUp_ || port_.isOpen() || !QFile::exists(QString::fromStdString(portLocation_)))
        return;
    if (!openPort())
        return;
    linkUp_ = true;
    reopenTimer_.stop();
    if (linkHandler_)
        linkHandler_(true, std::string());
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
