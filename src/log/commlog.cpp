#include "log/commlog.h"

#include "log/logtext.h"
#include "text/ansicodec.h"
#include "text/tokencodec.h"

#include <QTimerEvent>

#include <algorithm>
#include <iterator>

namespace {
const QByteArrayView kArrow("\x81\xA8"); // "→" in code page 932
} // namespace

// Blocks are closed by size as well as by lines, so that dropping one frees a small share
// of the cap whatever the lines are like.
CommLog::CommLog(int keepLines, qint64 keepBytes, QObject *parent)
    : QAbstractListModel(parent),
      m_keepLines(keepLines),
      m_keepBytes(keepBytes),
      m_blockBytes(std::max<qint64>(1, keepBytes / 64))
{
}

void CommLog::appendLine(const QByteArray &line)
{
    Block &block = blockWithRoom(line.size());
    const qsizetype start = block.text.size();
    block.text.append(line);
    lineAdded(block, start, start, block.text.size());
}

void CommLog::appendStamped(const QString &text)
{
    if (text != m_lastText) {
        m_lastEncoded = Ansi::encodeLossy(text);
        m_lastText = text;
    }
    appendStampedBytes(m_lastEncoded);
}

CommLog::Block &CommLog::stampedBlock(qsizetype incoming, qsizetype *start, qsizetype *body)
{
    const QByteArrayView stamp = m_stamp.now();
    Block &block = blockWithRoom(stamp.size() + 1 + incoming);
    *start = block.text.size();
    block.text.append(stamp).append(' ');
    *body = block.text.size();
    return block;
}

void CommLog::appendStampedBytes(const QByteArray &bytes)
{
    qsizetype start = 0, body = 0;
    Block &block = stampedBlock(bytes.size(), &start, &body);
    block.text.append(bytes);
    lineAdded(block, start, body, block.text.size());
}

void CommLog::appendExchange(QByteArrayView command, QByteArrayView answer)
{
    qsizetype start = 0, body = 0;
    Block &block = stampedBlock(command.size() + kArrow.size() + answer.size(), &start, &body);
    block.text.append(command);
    const qsizetype tail = block.text.size();
    block.text.append(kArrow).append(answer);
    lineAdded(block, start, body, tail);
}

CommLog::Block &CommLog::blockWithRoom(qsizetype incoming)
{
    dropOldestBlocksIfFull(incoming);
    if (m_blocks.empty() || m_blocks.back().spans.size() == size_t(kBlockLines)
        || m_blocks.back().text.size() >= m_blockBytes) {
        qsizetype expectedBytes = kBlockLines * 32;
        if (!m_blocks.empty()) {
            Block &full = m_blocks.back();
            full.text.squeeze();
            // The lines of one run look alike: sized like the last block, a new one seldom
            // has to grow (and be copied) while it fills.
            expectedBytes = std::min<qint64>(full.text.size() + full.text.size() / 8, m_blockBytes);
        }
        m_blocks.emplace_back();
        m_blocks.back().first = m_dropped + m_count;
        m_blocks.back().text.reserve(expectedBytes);
        m_blocks.back().spans.reserve(kBlockLines);
    }
    return m_blocks.back();
}

void CommLog::lineAdded(Block &block, qsizetype start, qsizetype body, qsizetype tail)
{
    const qsizetype end = block.text.size();
    constexpr qsizetype kMaxHead = (qsizetype(1) << (32 - kStampBits)) - 1;
    const qsizetype head = tail - body <= kMaxHead ? tail - body : 0;
    block.spans.push_back({ quint32(end), quint32(head << kStampBits | (body - start)) });
    m_heldBytes += end - start + qint64(sizeof(Span));
    ++m_count;
    if (!m_announceTimer.isActive())
        m_announceTimer.start(kAnnounceMs, Qt::CoarseTimer, this);
    emit lineAppended(int(m_count - 1));
}

void CommLog::announceAppendedRows()
{
    m_announceTimer.stop();
    if (m_announced == m_count)
        return;
    beginInsertRows(QModelIndex(), int(m_announced), int(m_count - 1));
    m_announced = m_count;
    endInsertRows();
}

void CommLog::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_announceTimer.timerId())
        announceAppendedRows();
    else
        QAbstractListModel::timerEvent(event);
}

// Whole blocks go, so appending stays O(1); the line cap is a floor, the byte cap a ceiling.
// Views lose only the rows they were told about: the rest of the block was never theirs.
void CommLog::dropOldestBlocksIfFull(qsizetype incoming)
{
    while (m_blocks.size() >= 2) {
        const Block &oldest = m_blocks.front();
        const auto lines = qsizetype(oldest.spans.size());
        const qint64 bytes = oldest.text.size() + lines * qint64(sizeof(Span));
        const bool overLines = m_count - lines >= qsizetype(m_keepLines);
        const bool overBytes = m_heldBytes + incoming + qint64(sizeof(Span)) > m_keepBytes;
        if (!overLines && !overBytes)
            return;
        const qsizetype seen = std::min<qsizetype>(m_announced, lines);
        if (seen > 0)
            beginRemoveRows(QModelIndex(), 0, int(seen - 1));
        m_blocks.pop_front();
        m_count -= lines;
        m_announced -= seen;
        m_dropped += lines;
        m_heldBytes -= bytes;
        if (seen > 0)
            endRemoveRows();
    }
}

// The newest block first: it is the one a follower of the log reads.
const CommLog::Block *CommLog::blockOf(int index, size_t *line) const
{
    if (index < 0 || index >= m_count)
        return nullptr;
    const qint64 number = m_dropped + index;
    auto it = std::prev(m_blocks.end());
    if (number < it->first) {
        it = std::upper_bound(m_blocks.begin(), m_blocks.end(), number,
                              [](qint64 n, const Block &block) { return n < block.first; });
        --it;
    }
    *line = size_t(number - it->first);
    return &*it;
}

CommLog::Parts CommLog::parts(int index) const
{
    size_t i = 0;
    const Block *block = blockOf(index, &i);
    if (!block)
        return {};
    const Span &span = block->spans[i];
    const quint32 start = i == 0 ? 0 : block->spans[i - 1].end;
    const quint32 body = start + (span.parts & ((1u << kStampBits) - 1));
    const quint32 head = span.parts >> kStampBits;
    const quint32 tail = head == 0 ? span.end : body + head;
    const char *text = block->text.constData();
    return { QByteArrayView(text + start, body - start), QByteArrayView(text + body, tail - body),
             QByteArrayView(text + tail, span.end - tail) };
}

QByteArrayView CommLog::lineView(int index) const
{
    size_t i = 0;
    const Block *block = blockOf(index, &i);
    if (!block)
        return QByteArrayView();
    const quint32 start = i == 0 ? 0 : block->spans[i - 1].end;
    return QByteArrayView(block->text.constData() + start, block->spans[i].end - start);
}

QByteArray CommLog::line(int index) const
{
    return lineView(index).toByteArray();
}

QString CommLog::displayText(int index) const
{
    const Parts p = parts(index);
    QString text = QString::fromLatin1(p.stamp);
    LogText::appendShown(p.head, &text);
    LogText::appendShown(p.tail, &text);
    return text;
}

int CommLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_announced);
}

QVariant CommLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    return displayText(index.row());
}
