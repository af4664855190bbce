#include "capture/pcapngwriter.h"

#include "ardo/version.h"

#include <QtEndian>

#include <algorithm>

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
// Blocks wait in memory up to this much between flushes; a busy cycle of 128 nodes needs a
// quarter of it.
constexpr int kPendingLimit = 64 * 1024;

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
    pending_.reserve(kPendingLimit);
    pending_.resize(0);
    file_.setFileName(path);
    // Unbuffered: the blocks wait in pending_, and each flush is one write.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
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
    pending_.append(reinterpret_cast<const char *>(data), int(length));
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
    const bool written = pending_.isEmpty() || file_.write(pending_) == pending_.size();
    pending_.resize(0);
    if (!written)
        fail(file_.errorString());
    return written;
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
    blockStart_ = pending_.size();
    append32(type);
    // The total length, known at endBlock().
    append32(0);
}

void PcapngWriter::endBlock()
{
    const auto total = uint32_t(pending_.size() - blockStart_ + 4);
    qToLittleEndian<uint32_t>(total, pending_.data() + blockStart_ + 4);
    append32(total);
}

void PcapngWriter::appendOption(uint16_t code, const char *value, size_t length)
{
    append16(code);
    append16(uint16_t(length));
    pending_.append(value, int(length));
    pad();
}

void PcapngWriter::appendOption(uint16_t code, const QString &text)
{
    // An option's length is 16 bits; a longer text is cut, never its neighbours.
    constexpr int kLongest = 0xFFFC;
    // The engine's comments are plain ASCII: written straight into the block, they cost no
    // conversion buffer per frame.
    const bool ascii = text.size() <= kLongest
                       && std::all_of(text.cbegin(), text.cend(),
                                      [](QChar c) { return c.unicode() < 0x80; });
    if (!ascii) {
        const QByteArray utf8 = text.toUtf8().left(kLongest);
        appendOption(code, utf8.constData(), size_t(utf8.size()));
        return;
    }
    append16(code);
    append16(uint16_t(text.size()));
    const int start = pending_.size();
    pending_.resize(start + text.size());
    char *out = pending_.data() + start;
    for (const QChar c : text)
        *out++ = char(c.unicode());
    pad();
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
    pending_.append(bytes, sizeof bytes);
}

void PcapngWriter::append16(uint16_t value)
{
    char bytes[2];
    qToLittleEndian<uint16_t>(value, bytes);
    pending_.append(bytes, sizeof bytes);
}

void PcapngWriter::pad()
{
    static const char zeros[3] = {0, 0, 0};
    pending_.append(zeros, (4 - pending_.size() % 4) % 4);
}

void PcapngWriter::writeBlock()
{
    if (pending_.size() >= kPendingLimit)
        flush();
}

void PcapngWriter::fail(const QString &reason)
{
    if (error_.isEmpty())
        error_ = reason.isEmpty() ? QStringLiteral("write failed") : reason;
}

} // namespace capture
