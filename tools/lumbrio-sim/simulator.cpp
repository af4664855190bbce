#include "lumbrio-sim/simulator.h"

#include "lumbrio-sim/virtualnode.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace lumbrio {

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

// "0-7,12" back from a sorted id list.
QString nodeListText(const QList<int> &nodes)
{
    QStringList parts;
    for (int i = 0; i < nodes.size();) {
        int j = i;
        while (j + 1 < nodes.size() && nodes[j + 1] == nodes[j] + 1)
            ++j;
        parts << (j == i ? QString::number(nodes[i])
                         : QStringLiteral("%1-%2").arg(nodes[i]).arg(nodes[j]));
        i = j + 1;
    }
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QLatin1Char(','));
}

QString faultText(const FaultProbabilities &faults)
{
    QStringList parts;
    for (Fault fault : faultKinds()) {
        if (faults[fault] > 0)
            parts << QStringLiteral("%1=%2").arg(faultName(fault)).arg(faults[fault]);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

ClientConnection::ClientConnection(int number, QTcpSocket *socket, Medium *medium, bool verbose,
                                   Log log, QObject *parent)
    : QObject(parent)
    , number_(number)
    , socket_(socket)
    , medium_(medium)
    , verbose_(verbose)
    , log_(std::move(log))
    , peer_(QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
{
    socket_->setParent(this);
    // Answers follow each other a slot apart; Nagle's algorithm would hold them back behind the
    // receiver's delayed acknowledgement.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket_, &QTcpSocket::readyRead, this, &ClientConnection::readMessages);
    connect(socket_, &QTcpSocket::disconnected, this, &ClientConnection::close);
    connect(socket_, &QTcpSocket::errorOccurred, this, &ClientConnection::close);
    medium_->attach(this);
    log_(QStringLiteral("client %1 connected from %2").arg(number_).arg(peer_));
}

ClientConnection::~ClientConnection()
{
    medium_->detach(this);
}

QByteArray ClientConnection::address() const
{
    return address_;
}

void ClientConnection::receive(const QByteArray &frame)
{
    if (closed_ || !socket_->isWritable())
        return;
    socket_->write(encodeFrameMessage(frame));
    socket_->flush();
}

void ClientConnection::readMessages()
{
    reader_.append(socket_->readAll());
    Message message;
    while (!closed_ && reader_.next(&message)) {
        if (message.kind == kControlMessage)
            handleControl(message.payload);
        else if (message.kind == kFrameMessage)
            handleFrame(message.payload);
        else if (verbose_)
            log_(QStringLiteral("%1: message of kind %2 ignored").arg(label()).arg(message.kind));
    }
    if (reader_.isOutOfStep() && !closed_) {
        log_(QStringLiteral("%1: message header announces more than %2 bytes; closing")
                     .arg(label())
                     .arg(kMaxPayloadLength));
        close();
        socket_->abort();
    }
}

void ClientConnection::handleControl(const QByteArray &payload)
{
    const quint8 code = payload.isEmpty() ? 0 : quint8(payload[0]);
    if (code == kNodeNameParameter) {
        name_ = QString::fromUtf8(payload.mid(1));
        if (verbose_)
            log_(QStringLiteral("%1: name \"%2\"").arg(label(), name_));
    } else if (code == kNodeAddressParameter && payload.size() == 5) {
        address_ = payload.mid(1);
        if (verbose_)
            log_(QStringLiteral("%1: address %2")
                         .arg(label(), QString::fromLatin1(address_.toHex())));
    } else if (verbose_) {
        log_(QStringLiteral("%1: control message %2 ignored").arg(label(), hex(payload)));
    }
}

void ClientConnection::handleFrame(const QByteArray &payload)
{
    QByteArray frame;
    if (!decodeFramePayload(payload, &frame)) {
        log_(QStringLiteral("%1: frame message with a wrong checksum dropped: %2")
                     .arg(label(), hex(payload)));
        return;
    }
    const int receivers = medium_->send(this, frame);
    if (verbose_)
        log_(QStringLiteral("%1 -> %2, %3 bytes to %4 stations: %5")
                     .arg(label(), QString::fromLatin1(frame.left(4).toHex()))
                     .arg(frame.size())
                     .arg(receivers)
                     .arg(hex(frame)));
}

void ClientConnection::close()
{
    if (closed_)
        return;
    closed_ = true;
    medium_->detach(this);
    log_(QStringLiteral("%1 disconnected").arg(label()));
    emit finished(this);
}

QString ClientConnection::label() const
{
    QString text = QStringLiteral("client %1").arg(number_);
    if (!name_.isEmpty())
        text += QStringLiteral(" \"%1\"").arg(name_);
    if (!address_.isEmpty())
        text += QStringLiteral(" (%1)").arg(QString::fromLatin1(address_.toHex()));
    return text;
}

Simulator::Simulator(const Options &options, Log log, QObject *parent)
    : QObject(parent)
    , options_(options)
    , log_(std::move(log))
{
    for (int id : qAsConst(options_.nodes)) {
        auto *node = new VirtualNode(id, options_.faults.value(id), options_.seed, &medium_, this);
        connect(node, &VirtualNode::answered, this, &Simulator::reportAnswer);
        nodes_.append(node);
    }
    connect(&server_, &QTcpServer::newConnection, this, &Simulator::acceptClients);
}

Simulator::~Simulator()
{
    // Children leave the medium in their destructors: they must go before it does.
    qDeleteAll(nodes_);
    qDeleteAll(findChildren<ClientConnection *>(QString(), Qt::FindDirectChildrenOnly));
}

bool Simulator::listen(QString *error)
{
    if (!server_.listen(QHostAddress::LocalHost, options_.port)) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                         .arg(options_.port)
                         .arg(server_.errorString());
        return false;
    }
    log_(QStringLiteral("lumbrio-sim listening on 127.0.0.1:%1, nodes %2, seed %3")
                 .arg(server_.serverPort())
                 .arg(nodeListText(options_.nodes))
                 .arg(options_.seed));
    for (auto it = options_.faults.cbegin(); it != options_.faults.cend(); ++it) {
        const QString text = faultText(it.value());
        if (!text.isEmpty())
            log_(QStringLiteral("node %1 faults: %2").arg(it.key()).arg(text));
    }
    return true;
}

void Simulator::acceptClients()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        auto *client = new ClientConnection(++clientCount_, socket, &medium_, options_.verbose,
                                            log_, this);
        connect(client, &ClientConnection::finished, client, &QObject::deleteLater);
    }
}

void Simulator::reportAnswer(int nodeId, Fault fault, int offsetMs, const QByteArray &frame)
{
    if (!options_.verbose)
        return;
    const QString faultNote
            = fault == Fault::None ? QString() : QStringLiteral(" (%1)").arg(faultName(fault));
    if (frame.isEmpty()) {
        log_(QStringLiteral("node %1 stays silent%2").arg(nodeId).arg(faultNote));
        return;
    }
    log_(QStringLiteral("node %1 -> %2 at %3 ms%4: %5")
                 .arg(nodeId)
                 .arg(QString::fromLatin1(frame.left(4).toHex()))
                 .arg(offsetMs)
                 .arg(faultNote, hex(frame)));
}

} // namespace lumbrio
