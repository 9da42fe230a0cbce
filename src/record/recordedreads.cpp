#include "record/recordedreads.h"

#include <algorithm>

namespace Recording {

namespace {
// Small recordings stay small; large ones double their arrays, as far as the bound allows.
constexpr qsizetype kFirstBytes = 4096;
constexpr size_t kFirstEntries = 256;
} // namespace

bool RecordedReads::append(Side from, QByteArrayView bytes, qint64 atNs)
{
    if (bytes.isEmpty())
        return true;
    if (!makeRoom(bytes.size()))
        return false;
    m_bytes.append(bytes);
    m_entries.push_back(Entry { atNs, quint32(m_bytes.size()), from });
    return true;
}

Read RecordedReads::at(size_t i) const
{
    const Entry &entry = m_entries[i];
    const quint32 begin = i == 0 ? 0 : m_entries[i - 1].end;
    return Read { entry.from, QByteArrayView(m_bytes).sliced(begin, entry.end - begin), entry.atNs };
}

qsizetype RecordedReads::heldBytes() const
{
    return m_bytes.capacity() + qsizetype(m_entries.capacity() * sizeof(Entry));
}

// Grows each array by reserving exactly, never by letting an append double it, so that what
// is allocated stays within the bound even while the recording fills up.
bool RecordedReads::makeRoom(qsizetype bytes)
{
    const qsizetype entrySize = sizeof(Entry);
    const qsizetype needBytes = m_bytes.size() + bytes;
    const size_t needEntries = m_entries.size() + 1;
    if (needEntries > kMaxReads
        || std::max(needBytes, m_bytes.capacity())
                        + qsizetype(std::max(needEntries, m_entries.capacity())) * entrySize
                > kMaxHeldBytes)
        return false;
    if (needEntries > m_entries.capacity()) {
        const size_t grown = std::max({ needEntries, 2 * m_entries.capacity(), kFirstEntries });
        const size_t left = size_t(kMaxHeldBytes - std::max(needBytes, m_bytes.capacity())) / entrySize;
        m_entries.reserve(std::min({ grown, left, kMaxReads }));
    }
    if (needBytes > m_bytes.capacity()) {
        const qsizetype grown = std::max({ needBytes, 2 * m_bytes.capacity(), kFirstBytes });
        const qsizetype left = kMaxHeldBytes - qsizetype(m_entries.capacity()) * entrySize;
        m_bytes.reserve(std::min(grown, left));
    }
    return true;
}

} // namespace Recording
