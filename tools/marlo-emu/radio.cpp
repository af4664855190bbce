#include "marlo-emu/radio.h"

#include "common/lumbriowire.h"
#include "mdw/talven/frame.h"

namespace marlo {

namespace {

const char kNodeName[] = "Marlo gateway emulator";
constexpr int kConnectTimeoutMs = 5000;

} // namespace

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
    // The gateway's address, as the PC's own driver announces it.
    const QByteArray address(reinterpret_cast<const char *>(talven::MPDU_ADDRESS.bytes()), 4);
    socket_.write(lumbrio::encodeControlMessage(lumbrio::kNodeNameParameter, kNodeName));
    socket_.write(lumbrio::encodeControlMessage(lumbrio::kNodeAddressParameter, address));
    socket_.flush();

    connect(&socket_, &QTcpSocket::readyRead, this, &Radio::readMessages);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { emit lost(QStringLiteral("lumbrio-sim closed the connection")); });
    return true;
}

void Radio::send(const QByteArray &frame)
{
    socket_.write(lumbrio::encodeFrameMessage(frame));
}

void Radio::readMessages()
{
    reader_.append(socket_.readAll());
    lumbrio::Message message;
    while (reader_.next(&message)) {
        QByteArray frame;
        // A frame whose CRC does not match is not heard, as on a real radio.
        if (message.kind == lumbrio::kFrameMessage
            && lumbrio::decodeFramePayload(message.payload, &frame))
            emit frameHeard(frame);
    }
    if (reader_.isOutOfStep()) {
        socket_.abort();
        emit lost(QStringLiteral("lumbrio-sim sent a message longer than %1 bytes")
                          .arg(lumbrio::kMaxPayloadLength));
    }
}

} // namespace marlo
