#include "drivers/nrflumbriodriver.h"

#include <QByteArray>
#include <QDataStream>
#include <QThread>
#include <QTime>
#include <QtEndian>

namespace {

const char *const kInterfaceName = "Lumbrio virtual Network Interface";
constexpr uint32_t kGatewayAddress = 0xE2E2E2E2;

constexpr quint16 kSimulatorPort = 8844;
constexpr int kConnectTimeoutMs = 5000;
// The simulator takes the two announcements apart only when they do not arrive together.
constexpr unsigned long kAnnouncementPauseUs = 10000;

constexpr qint64 kHeaderLength = 5;
constexpr qint8 kFrameMessage = 1;
constexpr qint8 kControlMessage = 3;
constexpr qint8 kNodeAddressParameter = 1;
constexpr qint8 kNodeNameParameter = 5;
// Preamble and checksum around the frame bytes.
constexpr quint32 kFrameOverhead = 3;
constexpr quint8 kHighPreamble = 0xAA;
constexpr quint8 kLowPreamble = 0x55;

QByteArray nodeNameMessage(const std::string &name)
{
    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::BigEndian);
    stream << kControlMessage << qint32(1 + name.size()) << kNodeNameParameter;
    stream.writeRawData(name.data(), int(name.size()));
    return message;
}

QByteArray nodeAddressMessage(uint32_t address)
{
    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::BigEndian);
    stream << kControlMessage << qint32(5) << kNodeAddressParameter << qint32(address);
    return message;
}

QByteArray frameMessage(const uint8_t *data, size_t length)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    // An empty frame has no first byte to choose the preamble from.
    const bool highBit = length > 0 && (data[0] & 0x80);

    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_4);
    stream.setByteOrder(QDataStream::BigEndian);
    stream << kFrameMessage << qint32(length + kFrameOverhead)
           << qint8(highBit ? kHighPreamble : kLowPreamble);
    stream.writeRawData(bytes, int(length));
    stream << qint16(qChecksum(bytes, uint(length)));
    return message;
}

} // namespace

NrfLumbrioDriver::NrfLumbrioDriver(uint32_t nodeAddress, const std::string &nodeName)
    : opened_(false)
    , nodeAddress_(nodeAddress)
    , nodeName_(nodeName)
{}

NrfLumbrioDriver::~NrfLumbrioDriver()
{
    opened_ = false;
}

std::string NrfLumbrioDriver::name() const
{
    return kInterfaceName;
}

bool NrfLumbrioDriver::open()
{
    socket_.connectToHost(QStringLiteral("localhost"), kSimulatorPort, QIODevice::ReadWrite,
                          QAbstractSocket::IPv4Protocol);
    if (!socket_.waitForConnected(kConnectTimeoutMs))
        return false;

    if (!writeMessage(nodeNameMessage(nodeName_))) {
        socket_.close();
        return false;
    }
    QThread::usleep(kAnnouncementPauseUs);
    if (!writeMessage(nodeAddressMessage(nodeAddress_))) {
        socket_.close();
        return false;
    }

    QObject::connect(
            &socket_, &QTcpSocket::readyRead, &socket_, [this] { receive(); },
            Qt::DirectConnection);
    opened_ = true;
    return true;
}

bool NrfLumbrioDriver::isOpen() const
{
    return opened_;
}

uint32_t NrfLumbrioDriver::address() const
{
    return kGatewayAddress;
}

bool NrfLumbrioDriver::transmit(const uint8_t *data, size_t length)
{
    return writeMessage(frameMessage(data, length));
}

void NrfLumbrioDriver::setReceiveHandler(ReceiveHandler handler)
{
    handler_ = std::move(handler);
}

bool NrfLumbrioDriver::writeMessage(const QByteArray &message)
{
    // A socket that is not open (never connected, or closed after the peer left) takes nothing;
    // asking it anyway only prints a warning per message.
    if (!socket_.isWritable())
        return false;
    const qint64 written = socket_.write(message);
    socket_.flush();
    return written == message.size();
}

void NrfLumbrioDriver::receive()
{
    // A lone header is not enough: a message is taken only once it has at least one more byte.
    while (socket_.bytesAvailable() > kHeaderLength) {
        char header[kHeaderLength];
        if (socket_.peek(header, kHeaderLength) != kHeaderLength)
            return;
        const auto kind = static_cast<qint8>(header[0]);
        const quint32 payloadLength = qFromBigEndian<quint32>(header + 1);
        // Compared in 64 bits, so a length field near 2^32 waits instead of wrapping around.
        if (socket_.bytesAvailable() < kHeaderLength + qint64(payloadLength))
            return;

        const QByteArray message = socket_.read(kHeaderLength + qint64(payloadLength));
        if (kind != kFrameMessage || payloadLength < kFrameOverhead)
            continue;

        const uint32_t receptionTime = uint32_t(QTime::currentTime().msecsSinceStartOfDay());
        // A copy, so a handler that replaces itself does not destroy the callable it runs in.
        const ReceiveHandler handler = handler_;
        if (handler) {
            const auto *payload
                    = reinterpret_cast<const uint8_t *>(message.constData()) + kHeaderLength;
            handler(*this, receptionTime, payload + 1, payloadLength - kFrameOverhead);
        }
    }
}

NrfLumbrioProber::InterfaceDescriptor::InterfaceDescriptor(const std::string &text)
    : text_(text)
{}

std::string NrfLumbrioProber::InterfaceDescriptor::name() const
{
    return text_;
}

std::string NrfLumbrioProber::InterfaceDescriptor::location() const
{
    return text_;
}

talven::NetworkInterfaceDriver *NrfLumbrioProber::InterfaceDescriptor::instantiate() const
{
    return new NrfLumbrioDriver(kGatewayAddress, "TALVEN Testbench");
}

NrfLumbrioProber::NrfLumbrioProber()
{
    // Registers itself and lives until the process ends.
    new InterfaceDescriptor(kInterfaceName);
}
