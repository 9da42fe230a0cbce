#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace Recording {

enum class Side : quint8 { Host, Device };

// One read on one side, as it was forwarded, stamped when it arrived.
struct Read
{
    Side from = Side::Host;
    QByteArrayView bytes;
    qint64 atNs = 0;
};

// The reads of a recording, held compactly: all their bytes in one array, and a time, a side
// and an end offset of 16 bytes for each, so that a line of one-byte reads costs some 17 bytes
// a read rather than an allocation each. Both arrays grow within one bound together.
class RecordedReads
{
public:
    static constexpr qsizetype kMaxHeldBytes = qsizetype(16) * 1024 * 1024;
    static constexpr size_t kMaxReads = 500'000;

    // Keeps a read; false when it no longer fits within the bounds, and nothing of it is kept.
    // An empty read is no read: nothing is kept, and it always fits.
    bool append(Side from, QByteArrayView bytes, qint64 atNs);

    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    // The read's bytes stay valid until the next append.
    Read at(size_t i) const;
    // What the reads hold allocated: never more than kMaxHeldBytes.
    qsizetype heldBytes() const;

private:
    struct Entry
    {
        qint64 atNs = 0;
        quint32 end = 0; // one past the read's last byte in m_bytes
        Side from = Side::Host;
    };
    static_assert(sizeof(Entry) == 16);

    bool makeRoom(qsizetype bytes);

    QByteArray m_bytes;
    std::vector<Entry> m_entries;
};

} // namespace Recording
