#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace capture {

enum class Direction : uint8_t { Unknown = 0, Inbound = 1, Outbound = 2 };

// Writes TALVEN frames to a pcapng file: one section whose header names the program and the
// project's version, one interface per link (LINKTYPE_USER0, nanosecond time stamps) and one
// Enhanced Packet Block per frame, with its direction and an optional comment. Blocks collect in
// memory and reach the file in one write at flush() (or once 64 KiB wait), so a reader finds
// whole blocks only. A failed write stops the writer for good and keeps the reason. Not
// thread-safe; one owner.
class PcapngWriter
{
public:
    static constexpr uint16_t kLinkTypeUser0 = 147;

    PcapngWriter() = default;
    ~PcapngWriter();

    PcapngWriter(const PcapngWriter &) = delete;
    PcapngWriter &operator=(const PcapngWriter &) = delete;

    // Creates (or truncates) `path` and writes the section header, naming `program` and the
    // project's version. False with errorString() set when the file cannot be written.
    bool open(const QString &path, const QString &program);
    bool isOpen() const { return file_.isOpen(); }
    QString fileName() const { return file_.fileName(); }
    // Why the file could not be opened or written; empty while all is well.
    QString errorString() const { return error_; }
    bool hasFailed() const { return !error_.isEmpty(); }

    // Describes one link; its number is what writePacket() takes.
    uint32_t addInterface(const QString &name);
    // `timestampNs`: the wall clock in nanoseconds since the epoch.
    void writePacket(uint32_t interfaceId, int64_t timestampNs, Direction direction,
                     const uint8_t *data, size_t length, const QString &comment = QString());
    uint64_t packetCount() const { return packets_; }

    // Hands the blocks recorded so far to the system: one write.
    bool flush();
    void close();

private:
    void beginBlock(uint32_t type);
    void endBlock();
    void appendOption(uint16_t code, const char *value, size_t length);
    void appendOption(uint16_t code, const QString &text);
    void appendEndOfOptions();
    void append32(uint32_t value);
    void append16(uint16_t value);
    void pad();
    void writeBlock();
    void fail(const QString &reason);

    QFile file_;
    // The blocks not yet written; its storage is kept, so recording allocates nothing per frame.
    QByteArray pending_;
    int blockStart_ = 0;
    QString error_;
    uint32_t interfaces_ = 0;
    uint64_t packets_ = 0;
};

} // namespace capture
