#include "lumbrio-sim/simulator.h"

#include "lumbrio-sim/virtualnode.h"

#include <QDir>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <limits>
#include <sys/resource.h>

namespace lumbrio {

namespace {

constexpr int kFirstAcceptPauseMs = 100;
constexpr int kMaxAcceptPauseMs = 2000;
constexpr int kLimitLogIntervalMs = 10000;
// A client that does not read is dropped once this much waits for it (the same bound as
// marlo-emu's towards the PC).
constexpr qint64 kMaxUnwritten = 64 * 1024;
constexpr int kBadInputLogIntervalMs = 1000;
constexpr int kLoggedPayloadBytes = 48;

// Descriptors this process may still open, less a few for what else it opens (the event loop's
// own, a terminal, a log).
int clientLimit()
{
    constexpr int kSpareDescriptors = 16;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<int>::max();
    const int open
            = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
    const rlim_t available = limit.rlim_cur > rlim_t(open) ? limit.rlim_cur - rlim_t(open) : 0;
    return int(std::min<rlim_t>(available, rlim_t(std::numeric_limits<int>::max())))
           - kSpareDescriptors;
}

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
    if (socket_->bytesToWrite() > kMaxUnwritten) {
        log_(QStringLiteral("%1 does not read: more than %2 bytes wait for it; closing")
                     .arg(label())
                     .arg(kMaxUnwritten));
        close();
        socket_->abort();
        return;
    }
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
        // A client that sends nothing else must not fill the log: one line a second at most,
        // with only the start of the payload.
        if (badChecksumSaid_.isValid() && !badChecksumSaid_.hasExpired(kBadInputLogIntervalMs)) {
            ++badChecksumsUnsaid_;
            return;
        }
        badChecksumSaid_.start();
        QString line = QStringLiteral("%1: frame message with a wrong checksum dropped: %2")
                               .arg(label(), hex(payload.left(kLoggedPayloadBytes)));
        if (payload.size() > kLoggedPayloadBytes)
            line += QStringLiteral(" ... (%1 bytes)").arg(payload.size());
        if (badChecksumsUnsaid_ > 0)
            line += QStringLiteral("; %1 more since the last such line").arg(badChecksumsUnsaid_);
        badChecksumsUnsaid_ = 0;
        log_(line);
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
    connect(&server_, &QTcpServer::acceptError, this, &Simulator::acceptFailed);
    acceptPause_.setSingleShot(true);
    connect(&acceptPause_, &QTimer::timeout, &server_, &QTcpServer::resumeAccepting);
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
    maxClients_ = clientLimit();
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
    acceptPauseMs_ = 0;
    while (connectedClients_ < maxClients_) {
        QTcpSocket *socket = server_.nextPendingConnection();
        if (!socket)
            return;
        auto *client = new ClientConnection(++clientCount_, socket, &medium_, options_.verbose,
                                            log_, this);
        connect(client, &ClientConnection::finished, client, &QObject::deleteLater);
        connect(client, &ClientConnection::finished, this, &Simulator::clientLeft);
        ++connectedClients_;
    }
    server_.pauseAccepting();
    if (!limitSaid_.isValid() || limitSaid_.hasExpired(kLimitLogIntervalMs)) {
        limitSaid_.start();
        log_(QStringLiteral("%1 clients: no descriptors left for more; new clients wait until "
                            "one leaves")
                     .arg(connectedClients_));
    }
}

void Simulator::clientLeft()
{
    if (--connectedClients_ < maxClients_ && !acceptPause_.isActive())
        server_.resumeAccepting();
}

void Simulator::acceptFailed()
{
    server_.pauseAccepting();
    const bool first = acceptPauseMs_ == 0;
    acceptPauseMs_ = first ? kFirstAcceptPauseMs : std::min(2 * acceptPauseMs_, kMaxAcceptPauseMs);
    if (first) {
        log_(QStringLiteral("cannot accept a client: %1; trying again in %2 ms and then less often")
                     .arg(server_.errorString())
                     .arg(acceptPauseMs_));
    }
    acceptPause_.start(acceptPauseMs_);
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
