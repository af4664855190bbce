#include "marlo-emu/radio.h"

#include <QDataStream>
#include <QtEndian>

namespace marlo {

namespace {

constexpr int kHeaderLength = 5;
constexpr quint8 kFrameMessage = 1;
constexpr quint8 kControlMessage = 3;
constexpr quint8 kNodeAddressParameter = 1;
constexpr quint8 kNodeNameParameter = 5;
constexpr quint32 kGatewayAddress = 0xE2E2E2E2;
const char kNodeName[] = "Marlo gateway emulator";
// Preamble and CRC around the frame.
constexpr quint32 kFrameOverhead = 3;
// Nothing the simulator sends comes near this; a larger length means the stream is out of step.
constexpr quint32 kMaxPayloadLength = 64 * 1024;
constexpr int kConnectTimeoutMs = 5000;

QByteArray controlMessage(quint8 parameter, const QByteArray &value)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::BigEndian);
    out << qint8(kControlMessage) << qint32(1 + value.size()) << qint8(parameter);
    out.writeRawData(value.constData(), value.size());
    return message;
}

} // namespace

QByteArray encodeFrameMessage(const QByteArray &frame)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::BigEndian);
    const quint8 preamble = (!frame.isEmpty() && (quint8(frame[0]) & 0x80)) ? 0xAA : 0x55;
    out << qint8(kFrameMessage) << qint32(frame.size() + kFrameOverhead) << quint8(preamble);
    out.writeRawData(frame.constData(), frame.size());
    out << quint16(qChecksum(frame.constData(), uint(frame.size())));
    return message;
}

Radio::Radio(QObject *parent)
    : QObject(parent)
{}

Radio::~Radio()
{
    // Closing the socket below reports a disconnection that nobody is there to hear.
    socket_.disconnect(this);
}

bool Radio::connectTo(quint16 port, QString *error)
{
    socket_.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket_.waitForConnected(kConnectTimeoutMs)) {
        *error = QStringLiteral("cannot reach lumbrio-sim on port %1: %2")
                         .arg(port)
                         .arg(socket_.errorString());
        return false;
    }
    QByteArray address(4, '\0');
    qToBigEndian(kGatewayAddress, address.data());
    socket_.write(controlMessage(kNodeNameParameter, QByteArray(kNodeName)));
    socket_.write(controlMessage(kNodeAddressParameter, address));
    socket_.flush();

    connect(&socket_, &QTcpSocket::readyRead, this, &Radio::readMessages);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { emit lost(QStringLiteral("lumbrio-sim closed the connection")); });
    return true;
}

void Radio::send(const QByteArray &frame)
{
    socket_.write(encodeFrameMessage(frame));
}

void Radio::readMessages()
{
    pending_.append(socket_.readAll());
    while (pending_.size() >= kHeaderLength) {
        const quint8 kind = quint8(pending_[0]);
        const quint32 length = qFromBigEndian<quint32>(pending_.constData() + 1);
        if (length > kMaxPayloadLength) {
            socket_.abort();
            emit lost(QStringLiteral("lumbrio-sim sent a message of %1 bytes").arg(length));
            return;
        }
        if (quint32(pending_.size()) < kHeaderLength + length)
            return;
        const QByteArray payload = pending_.mid(kHeaderLength, int(length));
        pending_.remove(0, kHeaderLength + int(length));

        if (kind != kFrameMessage || length < kFrameOverhead)
            continue;
        const QByteArray frame = payload.mid(1, int(length - kFrameOverhead));
        const quint16 crc = qFromBigEndian<quint16>(payload.constData() + payload.size() - 2);
        if (crc == qChecksum(frame.constData(), uint(frame.size())))
            emit frameHeard(frame);
    }
}

} // namespace marlo
