#include "marlo-emu/board.h"

#include "mdw/serialcon/msg.h"
#include "mdw/talven/frame.h"

#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace marlo {

namespace {

using serialcon::Msg;

constexpr uint8_t kLinkCommand = 1;
constexpr uint32_t kLinkOpened = 1;
constexpr uint32_t kLinkClosed = 2;
// What the FRAME message's size byte can describe: the frame and its four time bytes.
constexpr int kMinFrameLength = 6;
constexpr int kMaxFrameLength = 251;
// When the PC does not read, stop piling up its output.
constexpr int kMaxUnwritten = 64 * 1024;
constexpr int kPieceGapMs = 1;

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace

Board::Board(const Options &options, Log log, QObject *parent)
    : QObject(parent)
    , options_(options)
    , log_(std::move(log))
    , random_(options.seed)
{
    pieceTimer_.setTimerType(Qt::PreciseTimer);
    pieceTimer_.setInterval(kPieceGapMs);
    connect(&pieceTimer_, &QTimer::timeout, this, &Board::writeNextPiece);
    connect(&radio_, &Radio::frameHeard, this, &Board::frameHeard);
    connect(&radio_, &Radio::lost, this, &Board::failed);
}

Board::~Board()
{
    if (linkMade_) {
        // Only our own link goes; someone may have pointed the name elsewhere meanwhile.
        if (QFileInfo(options_.link).symLinkTarget() == QFileInfo(path_).canonicalFilePath())
            QFile::remove(options_.link);
    }
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool Board::open(QString *error)
{
    if (!openTerminal(error) || !makeLink(error))
        return false;
    return radio_.connectTo(options_.port, error);
}

bool Board::openTerminal(QString *error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(std::strerror(errno));
        return false;
    }
    path_ = QString::fromLocal8Bit(ptsname(master_));
    slave_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path_, std::strerror(errno));
        return false;
    }
    // Raw from the start: nothing echoed back to us, every byte passed unchanged, also before
    // the PC opens the port and after it closes it.
    termios settings;
    tcgetattr(slave_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slave_, TCSANOW, &settings);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &Board::readFromPc);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &Board::flushTerminal);
    return true;
}

bool Board::makeLink(QString *error)
{
    if (options_.link.isEmpty())
        return true;
    const QFileInfo existing(options_.link);
    if (existing.isSymLink())
        QFile::remove(options_.link);
    else if (existing.exists()) {
        *error = QStringLiteral("--link: %1 exists and is not a symbolic link").arg(options_.link);
        return false;
    }
    if (::symlink(path_.toLocal8Bit().constData(), options_.link.toLocal8Bit().constData()) != 0) {
        *error = QStringLiteral("--link: cannot make %1: %2")
                         .arg(options_.link, std::strerror(errno));
        return false;
    }
    linkMade_ = true;
    return true;
}

void Board::readFromPc()
{
    char chunk[512];
    for (;;) {
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got > 0) {
            fromPc_.append(chunk, int(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // We hold the slave side open, so this does not happen; if it does, stop spinning on it.
        readNotifier_->setEnabled(false);
        emit failed(QStringLiteral("the terminal cannot be read: %1").arg(std::strerror(errno)));
        return;
    }

    // Messages are cut out at their sync byte; what comes before one is not a message.
    for (;;) {
        const int sync = fromPc_.indexOf(char(Msg::kSyncByte));
        if (sync < 0) {
            fromPc_.clear();
            return;
        }
        fromPc_.remove(0, sync);
        if (fromPc_.size() < 3)
            return;
        const int length = int(quint8(fromPc_[2])) + int(Msg::kOverhead);
        if (fromPc_.size() < length)
            return;
        const Msg msg(reinterpret_cast<const uint8_t *>(fromPc_.constData()), size_t(length));
        fromPc_.remove(0, length);
        handleFromPc(msg);
    }
}

void Board::handleFromPc(const Msg &msg)
{
    if (!msg.isValid()) {
        sendDebug(QStringLiteral("dropped a message with a bad checksum"));
        return;
    }
    switch (msg.type()) {
    case Msg::CMD:
        handleCommand(msg);
        break;
    case Msg::BEACON:
        handleBeacon(msg);
        break;
    default:
        sendDebug(QStringLiteral("dropped a message of type %1").arg(msg.type()));
        break;
    }
}

void Board::handleCommand(const Msg &msg)
{
    if (!msg.isWellFormedCommand()) {
        sendDebug(QStringLiteral("dropped a command of %1 bytes").arg(msg.payloadSize()));
        return;
    }
    const uint8_t command = msg.command();
    const uint32_t argument = msg.commandArgument();
    if (options_.verbose)
        log_(QStringLiteral("pc: command %1, argument %2").arg(command).arg(argument));
    if (command != kLinkCommand) {
        sendDebug(QStringLiteral("unknown command %1").arg(command));
        return;
    }
    if (argument == kLinkOpened) {
        linkUp_ = true;
        log_(QStringLiteral("link up"));
        sendDebug(QStringLiteral("link up"));
    } else if (argument == kLinkClosed) {
        // The PC closes the port next: what it has not read yet goes nowhere.
        linkUp_ = false;
        pieces_.clear();
        pieceTimer_.stop();
        log_(QStringLiteral("link down"));
    } else {
        sendDebug(QStringLiteral("unknown link argument %1").arg(argument));
    }
}

void Board::handleBeacon(const Msg &msg)
{
    if (msg.payloadSize() == 0) {
        sendDebug(QStringLiteral("dropped an empty frame"));
        return;
    }
    const QByteArray frame(reinterpret_cast<const char *>(msg.payload()), msg.payloadSize());
    if (options_.verbose) {
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
    radio_.send(frame);
}

void Board::frameHeard(const QByteArray &frame)
{
    if (!linkUp_) {
        if (options_.verbose)
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
    if (options_.verbose)
        log_(QStringLiteral("radio: at %1 frame %2").arg(now).arg(hex(frame)));
    sendToPc(msg);
}

void Board::sendDebug(const QString &text)
{
    if (!linkUp_)
        return;
    const QByteArray payload = text.toUtf8().left(255);
    QByteArray bytes(payload.size() + int(Msg::kOverhead), '\0');
    Msg msg(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    msg.prepareHeader(Msg::DEBUG, uint8_t(payload.size()));
    std::copy(payload.cbegin(), payload.cend(), msg.payload());
    sendToPc(msg);
}

void Board::sendToPc(Msg &msg)
{
    uint8_t checksum = msg.computeChecksum();
    if (options_.corruptChecksumRate > 0 && random_.generateDouble() < options_.corruptChecksumRate)
        checksum = uint8_t(checksum + 1 + random_.bounded(255));
    msg.setChecksum(checksum);

    QByteArray bytes;
    if (options_.noiseSync) {
        // A false start: the sync byte, then anything; the reader must still find the message.
        bytes.append(char(Msg::kSyncByte));
        const int count = int(random_.bounded(8));
        for (int i = 0; i < count; ++i)
            bytes.append(char(random_.bounded(256)));
    } else if (options_.noise) {
        const int count = 1 + int(random_.bounded(8));
        for (int i = 0; i < count; ++i) {
            // Any byte but the sync byte: noise must not look like the start of a message.
            const uint8_t byte = uint8_t(random_.bounded(255));
            bytes.append(char(byte >= Msg::kSyncByte ? byte + 1 : byte));
        }
    }
    bytes.append(reinterpret_cast<const char *>(msg.buffer().data()), int(msg.buffer().size()));

    if (!options_.split) {
        pushToTerminal(bytes);
        return;
    }
    // Two to four pieces, cut at distinct random places.
    const int cuts = std::min(1 + int(random_.bounded(3)), bytes.size() - 1);
    QList<int> at;
    while (at.size() < cuts) {
        const int cut = 1 + int(random_.bounded(bytes.size() - 1));
        if (!at.contains(cut))
            at.append(cut);
    }
    std::sort(at.begin(), at.end());
    int from = 0;
    for (int cut : at) {
        pieces_.append(bytes.mid(from, cut - from));
        from = cut;
    }
    pieces_.append(bytes.mid(from));
    if (!pieceTimer_.isActive()) {
        writeNextPiece();
        pieceTimer_.start();
    }
}

void Board::writeNextPiece()
{
    if (pieces_.isEmpty()) {
        pieceTimer_.stop();
        return;
    }
    pushToTerminal(pieces_.takeFirst());
}

void Board::pushToTerminal(const QByteArray &bytes)
{
    if (unwritten_.size() + bytes.size() > kMaxUnwritten) {
        log_(QStringLiteral("the PC does not read; dropped %1 bytes").arg(bytes.size()));
        return;
    }
    unwritten_.append(bytes);
    flushTerminal();
}

void Board::flushTerminal()
{
    while (!unwritten_.isEmpty()) {
        const ssize_t written = ::write(master_, unwritten_.constData(), size_t(unwritten_.size()));
        if (written > 0) {
            unwritten_.remove(0, int(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            writeNotifier_->setEnabled(true);
            return;
        }
        log_(QStringLiteral("cannot write to the terminal: %1").arg(std::strerror(errno)));
        unwritten_.clear();
    }
    writeNotifier_->setEnabled(false);
}

} // namespace marlo
