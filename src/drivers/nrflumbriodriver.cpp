#include "drivers/nrflumbriodriver.h"

#include "ardo/promptwakeup.h"
#include "mdw/talven/frame.h"

#include <QDataStream>
#include <QTcpSocket>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>

namespace {

const char *const kInterfaceName = "Lumbrio virtual Network Interface";
// The gateway answers to the address every MPDU is sent to; as one number, its wire-order bytes
// read big-endian.
uint32_t gatewayAddress()
{
    return qFromBigEndian<quint32>(talven::MPDU_ADDRESS.bytes());
}

constexpr quint16 kSimulatorPort = 8844;
constexpr int kConnectTimeoutMs = 5000;
// The simulator takes the two announcements apart only when they do not arrive together.
constexpr unsigned long kAnnouncementPauseUs = 10000;

constexpr int kHeaderLength = 5;
constexpr qint8 kFrameMessage = 1;
constexpr qint8 kControlMessage = 3;
constexpr qint8 kNodeAddressParameter = 1;
constexpr qint8 kNodeNameParameter = 5;
// Preamble and checksum around the frame bytes.
constexpr quint32 kFrameOverhead = 3;
constexpr quint8 kHighPreamble = 0xAA;
constexpr quint8 kLowPreamble = 0x55;
// The largest frame its one-byte length field can describe (the address and length bytes plus
// 255 more), with the preamble and checksum around it. A header that claims more is not a
// header: waiting for its payload would stall the link for good and grow the buffer without end.
constexpr quint32 kMaxPayloadLength = 5 + 255 + kFrameOverhead;

// Reconnection: soon after the loss, then at a bounded pace, each attempt bounded in time.
constexpr int kFirstRetryMs = 250;
constexpr int kMaxRetryMs = 2000;
constexpr int kAttemptTimeoutMs = 2000;

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

bool writeWhole(QTcpSocket &socket, const QByteArray &message)
{
    const qint64 written = socket.write(message);
    socket.flush();
    return written == message.size();
}

int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

} // namespace

// The thread that owns the socket: it connects and announces the driver, then reads every
// message as it arrives and writes what transmit() hands it.
class NrfLumbrioDriver::Reader : public QThread
{
public:
    explicit Reader(NrfLumbrioDriver *driver)
        : driver_(driver)
        , nameMessage_(nodeNameMessage(driver->nodeName_))
        , addressMessage_(nodeAddressMessage(driver->nodeAddress_))
    {}

    ~Reader() override
    {
        stopping_ = true;
        quit();
        wait();
    }

    // Blocks until the connection and both announcements are made, or have failed; in that case
    // the thread has ended.
    bool connectAndAnnounce()
    {
        std::future<bool> result = announced_.get_future();
        start();
        return result.get();
    }

    bool linkUp() const { return linkUp_; }

    void send(const QByteArray &message)
    {
        QTcpSocket *socket = socket_;
        QMetaObject::invokeMethod(
                socket,
                [socket, message] {
                    // The link may have gone down since transmit() looked.
                    if (socket->isWritable())
                        writeWhole(*socket, message);
                },
                Qt::QueuedConnection);
    }

protected:
    void run() override
    {
        // A frame's time is taken when this thread gets to read it, and a beacon leaves when this
        // thread gets to write it: both while the engine's thread may be busy painting.
        ardo::preferPromptWakeUps();
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("localhost"), kSimulatorPort, QIODevice::ReadWrite,
                             QAbstractSocket::IPv4Protocol);
        bool announced
                = socket.waitForConnected(kConnectTimeoutMs) && writeWhole(socket, nameMessage_);
        if (announced) {
            QThread::usleep(kAnnouncementPauseUs);
            announced = writeWhole(socket, addressMessage_);
        }
        if (!announced) {
            socket.close();
            announced_.set_value(false);
            return;
        }

        QTimer retry;
        retry.setSingleShot(true);
        QObject::connect(&retry, &QTimer::timeout, &socket, [this] { reconnect(); });
        QObject::connect(
                &socket, &QTcpSocket::readyRead, &socket, [this] { readAvailable(); },
                Qt::DirectConnection);
        QObject::connect(&socket, &QTcpSocket::stateChanged, &socket,
                         [this](QAbstractSocket::SocketState state) { stateChanged(state); });
        socket_ = &socket;
        retry_ = &retry;
        linkUp_ = socket.state() == QAbstractSocket::ConnectedState;
        announced_.set_value(true);

        exec();
        // The socket's own destruction changes its state: that is no lost link.
        QObject::disconnect(&socket, nullptr, nullptr, nullptr);
        linkUp_ = false;
    }

private:
    void readAvailable()
    {
        // Everything read at once arrived together: one time for all of it.
        const uint32_t receptionTime = uint32_t(QTime::currentTime().msecsSinceStartOfDay());
        const int64_t receivedNs = wallClockNs();
        buffer_ += socket_->readAll();

        NrfLumbrioDriver *driver = driver_;
        const int used = cutFrames(buffer_, [&](int at, int length) {
            const QByteArray frame = buffer_.mid(at, length);
            QMetaObject::invokeMethod(
                    &driver->inbox_,
                    [driver, receptionTime, receivedNs, frame] {
                        driver->deliver(receptionTime, receivedNs, frame);
                    },
                    Qt::QueuedConnection);
        });
        buffer_.remove(0, used);
    }

    void stateChanged(QAbstractSocket::SocketState state)
    {
        if (stopping_)
            return;
        if (state == QAbstractSocket::ConnectedState) {
            announceAgain();
            return;
        }
        if (state != QAbstractSocket::UnconnectedState)
            return;
        // What is left belongs to a stream that has ended.
        buffer_.clear();
        if (linkUp_.exchange(false)) {
            tell(false, socket_->errorString());
            retryDelayMs_ = kFirstRetryMs;
        }
        retry_->start(retryDelayMs_);
        retryDelayMs_ = std::min(2 * retryDelayMs_, kMaxRetryMs);
    }

    void reconnect()
    {
        const int attempt = ++attempt_;
        socket_->connectToHost(QStringLiteral("localhost"), kSimulatorPort, QIODevice::ReadWrite,
                               QAbstractSocket::IPv4Protocol);
        // An unanswered attempt gives up in time, and the next one is scheduled.
        QTimer::singleShot(kAttemptTimeoutMs, socket_, [this, attempt] {
            if (attempt == attempt_ && socket_->state() != QAbstractSocket::ConnectedState)
                socket_->abort();
        });
    }

    // As open() does, without blocking: the name, a pause, then the address.
    void announceAgain()
    {
        if (!writeWhole(*socket_, nameMessage_)) {
            socket_->abort();
            return;
        }
        QTimer::singleShot(kAnnouncementPauseUs / 1000, socket_, [this] {
            if (socket_->state() != QAbstractSocket::ConnectedState)
                return;
            if (!writeWhole(*socket_, addressMessage_)) {
                socket_->abort();
                return;
            }
            retryDelayMs_ = kFirstRetryMs;
            linkUp_ = true;
            tell(true, std::string());
        });
    }

    void tell(bool up, const QString &what) { tell(up, what.toStdString()); }
    void tell(bool up, const std::string &what)
    {
        NrfLumbrioDriver *driver = driver_;
        QMetaObject::invokeMethod(
                &driver->inbox_, [driver, up, what] { driver->linkChanged(up, what); },
                Qt::QueuedConnection);
    }

    NrfLumbrioDriver *const driver_;
    const QByteArray nameMessage_;
    const QByteArray addressMessage_;
    std::promise<bool> announced_;
    // Set before the announcement is reported, so the thread that opened the driver sees it.
    QTcpSocket *socket_ = nullptr;
    std::atomic<bool> linkUp_{false};
    std::atomic<bool> stopping_{false};
    // Reader thread only, once running:
    QTimer *retry_ = nullptr;
    int retryDelayMs_ = kFirstRetryMs;
    int attempt_ = 0;
    // Never more than one incomplete message: whatever is whole is taken out at once.
    QByteArray buffer_;
};

NrfLumbrioDriver::NrfLumbrioDriver(uint32_t nodeAddress, const std::string &nodeName)
    : opened_(false)
    , nodeAddress_(nodeAddress)
    , nodeName_(nodeName)
{}

NrfLumbrioDriver::~NrfLumbrioDriver()
{
    opened_ = false;
    // The reader ends (closing the socket) before the inbox it queues frames to goes away.
    reader_.reset();
}

std::string NrfLumbrioDriver::name() const
{
    return kInterfaceName;
}

bool NrfLumbrioDriver::open()
{
    if (reader_)
        return opened_;
    reader_ = std::make_unique<Reader>(this);
    opened_ = reader_->connectAndAnnounce();
    return opened_;
}

bool NrfLumbrioDriver::isOpen() const
{
    return opened_;
}

uint32_t NrfLumbrioDriver::address() const
{
    return gatewayAddress();
}

bool NrfLumbrioDriver::transmit(const uint8_t *data, size_t length)
{
    if (!opened_ || !reader_->linkUp())
        return false;
    reader_->send(frameMessage(data, length));
    return true;
}

void NrfLumbrioDriver::setReceiveHandler(ReceiveHandler handler)
{
    handler_ = std::move(handler);
}

void NrfLumbrioDriver::setLinkStateHandler(LinkStateHandler handler)
{
    linkHandler_ = std::move(handler);
}

void NrfLumbrioDriver::linkChanged(bool up, const std::string &what)
{
    const LinkStateHandler handler = linkHandler_;
    if (handler)
        handler(up, what);
}

int NrfLumbrioDriver::cutFrames(const QByteArray &bytes,
                                const std::function<void(int at, int length)> &frame)
{
    int at = 0;
    // A lone header is not enough: a message is taken only once it has at least one more byte.
    while (bytes.size() - at > kHeaderLength) {
        const char *header = bytes.constData() + at;
        const auto kind = static_cast<qint8>(header[0]);
        const quint32 payloadLength = qFromBigEndian<quint32>(header + 1);
        if (payloadLength > kMaxPayloadLength) {
            // Not a header; the next one may start at any of the following bytes.
            ++at;
            continue;
        }
        if (bytes.size() - at < kHeaderLength + int(payloadLength))
            break;

        const int payloadAt = at + kHeaderLength;
        at = payloadAt + int(payloadLength);
        if (kind == kFrameMessage && payloadLength >= kFrameOverhead)
            frame(payloadAt + 1, int(payloadLength - kFrameOverhead));
    }
    return at;
}

int64_t NrfLumbrioDriver::receptionWallClockNs() const
{
    return receptionWallClockNs_;
}

void NrfLumbrioDriver::deliver(uint32_t receptionTime, int64_t wallClockNs, const QByteArray &frame)
{
    // A copy, so a handler that replaces itself does not destroy the callable it runs in.
    const ReceiveHandler handler = handler_;
    if (!handler)
        return;
    receptionWallClockNs_ = wallClockNs;
    handler(*this, receptionTime, reinterpret_cast<const uint8_t *>(frame.constData()),
            size_t(frame.size()));
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
    return new NrfLumbrioDriver(gatewayAddress(), "TALVEN Testbench");
}

NrfLumbrioProber::NrfLumbrioProber()
{
    // Registers itself and lives until the process ends.
    new InterfaceDescriptor(kInterfaceName);
}
