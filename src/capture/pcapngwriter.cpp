#include "capture/pcapngwriter.h"

#include "ardo/version.h"

#include <QtEndian>

namespace capture {

namespace {

// Block types and option codes of the pcapng format.
constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescriptionBlock = 0x00000001;
constexpr uint32_t kEnhancedPacketBlock = 0x00000006;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kMajorVersion = 1;
constexpr uint16_t kMinorVersion = 0;

constexpr uint16_t kOptEndOfOptions = 0;
constexpr uint16_t kOptComment = 1;
constexpr uint16_t kShbUserApplication = 4;
constexpr uint16_t kIfName = 2;
constexpr uint16_t kIfTimestampResolution = 9;
constexpr uint16_t kEpbFlags = 2;

// 10^-9 s: the clocks the drivers read give nanoseconds.
constexpr char kNanoseconds = 9;

} // namespace

PcapngWriter::~PcapngWriter()
{
    close();
}

bool PcapngWriter::open(const QString &path, const QString &program)
{
    close();
    error_.clear();
    interfaces_ = 0;
    packets_ = 0;
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error_ = file_.errorString();
        return false;
    }

    beginBlock(kSectionHeaderBlock);
    append32(kByteOrderMagic);
    append16(kMajorVersion);
    append16(kMinorVersion);
    // Section length unknown: the file grows while it is recorded.
    append32(0xFFFFFFFF);
    append32(0xFFFFFFFF);
    appendOption(kShbUserApplication, program + QLatin1Char(' ') + QStringLiteral(TALVEN_VERSION));
    appendEndOfOptions();
    endBlock();
    writeBlock();
    // The header reaches the disk now, so a file that cannot take it is known before recording.
    return flush();
}

uint32_t PcapngWriter::addInterface(const QString &name)
{
    beginBlock(kInterfaceDescriptionBlock);
    append16(kLinkTypeUser0);
    append16(0);
    // Snap length 0: frames are never cut.
    append32(0);
    appendOption(kIfName, name);
    appendOption(kIfTimestampResolution, &kNanoseconds, 1);
    appendEndOfOptions();
    endBlock();
    writeBlock();
    return interfaces_++;
}

void PcapngWriter::writePacket(uint32_t interfaceId, int64_t timestampNs, Direction direction,
                               const uint8_t *data, size_t length, const QString &comment)
{
    if (!data)
        length = 0;
    const auto stamp = uint64_t(timestampNs < 0 ? 0 : timestampNs);
    beginBlock(kEnhancedPacketBlock);
    append32(interfaceId);
    append32(uint32_t(stamp >> 32));
    append32(uint32_t(stamp));
    append32(uint32_t(length));
    append32(uint32_t(length));
    block_.append(reinterpret_cast<const char *>(data), int(length));
    pad();
    if (!comment.isEmpty())
        appendOption(kOptComment, comment);
    if (direction != Direction::Unknown) {
        char flags[4];
        qToLittleEndian<uint32_t>(uint32_t(direction), flags);
        appendOption(kEpbFlags, flags, sizeof flags);
    }
    appendEndOfOptions();
    endBlock();
    writeBlock();
    ++packets_;
}

bool PcapngWriter::flush()
{
    if (!file_.isOpen() || hasFailed())
        return false;
    if (!file_.flush()) {
        fail(file_.errorString());
        return false;
    }
    return true;
}

void PcapngWriter::close()
{
    if (!file_.isOpen())
        return;
    flush();
    file_.close();
}

void PcapngWriter::beginBlock(uint32_t type)
{
    block_.resize(0);
    append32(type);
    // The total length, known at endBlock().
    append32(0);
}

void PcapngWriter::endBlock()
{
    const auto total = uint32_t(block_.size() + 4);
    qToLittleEndian<uint32_t>(total, block_.data() + 4);
    append32(total);
}

void PcapngWriter::appendOption(uint16_t code, const char *value, size_t length)
{
    append16(code);
    append16(uint16_t(length));
    block_.append(value, int(length));
    pad();
}

void PcapngWriter::appendOption(uint16_t code, const QString &text)
{
    // An option's length is 16 bits; a longer text is cut, never its neighbours.
    const QByteArray utf8 = text.toUtf8().left(0xFFFC);
    appendOption(code, utf8.constData(), size_t(utf8.size()));
}

void PcapngWriter::appendEndOfOptions()
{
    append16(kOptEndOfOptions);
    append16(0);
}

void PcapngWriter::append32(uint32_t value)
{
    char bytes[4];
    qToLittleEndian<uint32_t>(value, bytes);
    block_.append(bytes, sizeof bytes);
}

void PcapngWriter::append16(uint16_t value)
{
    char bytes[2];
    qToLittleEndian<uint16_t>(value, bytes);
    block_.append(bytes, sizeof bytes);
}

void PcapngWriter::pad()
{
    static const char zeros[3] = {0, 0, 0};
    block_.append(zeros, (4 - block_.size() % 4) % 4);
}

void PcapngWriter::writeBlock()
{
    if (!file_.isOpen() || hasFailed())
        return;
    if (file_.write(block_) != block_.size())
        fail(file_.errorString());
}

void PcapngWriter::fail(const QString &reason)
{
    if (error_.isEmpty())
        error_ = reason.isEmpty() ? QStringLiteral("write failed") : reason;
}

} // namespace capture
