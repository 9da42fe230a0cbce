#include "commlog.h"

#include "ansicodec.h"
#include "tokencodec.h"
#include "timestamp.h"

CommLog::CommLog(int keepLines, QObject *parent) : QAbstractListModel(parent), m_keepLines(keepLines) { }

void CommLog::appendLine(const QByteArray &line)
{
    dropOldestBlockIfFull();
    if (m_blocks.empty() || m_blocks.back().ends.size() == size_t(kBlockLines)) {
        if (!m_blocks.empty())
            m_blocks.back().text.squeeze();
        m_blocks.emplace_back();
        m_blocks.back().ends.reserve(kBlockLines);
    }
    beginInsertRows(QModelIndex(), int(m_count), int(m_count));
    Block &block = m_blocks.back();
    block.text += line;
    block.ends.push_back(quint32(block.text.size()));
    ++m_count;
    endInsertRows();
    emit lineAppended(int(m_count - 1));
}

void CommLog::appendStamped(const QString &text)
{
    appendStampedBytes(Ansi::encodeLossy(text));
}

void CommLog::appendStampedBytes(const QByteArray &bytes)
{
    QByteArray line = Stamp::logStamp().toLatin1();
    line += ' ';
    line += bytes;
    appendLine(line);
}

// Whole blocks go so that row numbers stay a plain division; the cap is a floor.
void CommLog::dropOldestBlockIfFull()
{
    if (m_count < qsizetype(m_keepLines) + kBlockLines || m_blocks.size() < 2)
        return;
    beginRemoveRows(QModelIndex(), 0, kBlockLines - 1);
    m_blocks.pop_front();
    m_count -= kBlockLines;
    m_dropped += kBlockLines;
    endRemoveRows();
}

QByteArray CommLog::line(int index) const
{
    if (index < 0 || index >= m_count)
        return QByteArray();
    const Block &block = m_blocks[size_t(index / kBlockLines)];
    const size_t i = size_t(index % kBlockLines);
    const quint32 start = i == 0 ? 0 : block.ends[i - 1];
    return block.text.mid(start, block.ends[i] - start);
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
    return parent.isValid() ? 0 : int(m_count);
}

QVariant CommLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    return displayText(index.row());
}
