#include "commlog.h"

#include "ansicodec.h"
#include "tokencodec.h"

#include <QTimerEvent>

#include <algorithm>

CommLog::CommLog(int keepLines, QObject *parent) : QAbstractListModel(parent), m_keepLines(keepLines) { }

void CommLog::appendLine(const QByteArray &line)
{
    Block &block = blockWithRoom();
    block.text.append(line);
    lineAdded(block);
}

void CommLog::appendStamped(const QString &text)
{
    if (text != m_lastText) {
        m_lastEncoded = Ansi::encodeLossy(text);
        m_lastText = text;
    }
    appendStampedBytes(m_lastEncoded);
}

void CommLog::appendStampedBytes(const QByteArray &bytes)
{
    const QByteArrayView stamp = m_stamp.now();
    Block &block = blockWithRoom();
    block.text.append(stamp).append(' ').append(bytes);
    lineAdded(block);
}

CommLog::Block &CommLog::blockWithRoom()
{
    dropOldestBlockIfFull();
    if (m_blocks.empty() || m_blocks.back().ends.size() == size_t(kBlockLines)) {
        qsizetype expectedBytes = kBlockLines * 32;
        if (!m_blocks.empty()) {
            Block &full = m_blocks.back();
            full.text.squeeze();
            // The lines of one run look alike: sized like the last block, a new one seldom
            // has to grow (and be copied) while it fills.
            expectedBytes = full.text.size() + full.text.size() / 8;
        }
        m_blocks.emplace_back();
        m_blocks.back().text.reserve(expectedBytes);
        m_blocks.back().ends.reserve(kBlockLines);
    }
    return m_blocks.back();
}

void CommLog::lineAdded(Block &block)
{
    block.ends.push_back(quint32(block.text.size()));
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

// Whole blocks go so that row numbers stay a plain division; the cap is a floor. Views
// lose only the rows they were told about: the rest of the block was never theirs.
void CommLog::dropOldestBlockIfFull()
{
    if (m_count < qsizetype(m_keepLines) + kBlockLines || m_blocks.size() < 2)
        return;
    const qsizetype seen = std::min<qsizetype>(m_announced, kBlockLines);
    if (seen > 0)
        beginRemoveRows(QModelIndex(), 0, int(seen - 1));
    m_blocks.pop_front();
    m_count -= kBlockLines;
    m_announced -= seen;
    m_dropped += kBlockLines;
    if (seen > 0)
        endRemoveRows();
}

QByteArrayView CommLog::lineView(int index) const
{
    if (index < 0 || index >= m_count)
        return QByteArrayView();
    const Block &block = m_blocks[size_t(index / kBlockLines)];
    const size_t i = size_t(index % kBlockLines);
    const quint32 start = i == 0 ? 0 : block.ends[i - 1];
    return QByteArrayView(block.text.constData() + start, qsizetype(block.ends[i] - start));
}

QByteArray CommLog::line(int index) const
{
    return lineView(index).toByteArray();
}

QString CommLog::visibleControls(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            shown += QLatin1Char('[') + QLatin1String(mdlSUCMD::ControlTokenTable[u].name)
                    + QLatin1Char(']');
        else if (u == 0x7F)
            shown += QLatin1String("[DEL]");
        else
            shown += c;
    }
    return shown;
}

QString CommLog::displayText(int index) const
{
    return visibleControls(Ansi::decode(line(index)));
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
