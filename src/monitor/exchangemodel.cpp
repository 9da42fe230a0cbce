#include "monitor/exchangemodel.h"

#include "log/logtext.h"
#include "platform/sessionclock.h"

#include <QDateTime>

namespace {
// A continuous run's writes are never claimed: only the latest few can still be an answer's.
constexpr size_t kUnclaimedKept = 64;
// About thirty batches a second, as the main window's log list takes its lines.
constexpr int kBatchMs = 30;

// As the event stream stamps them: now less the time since, on the wall clock.
QString timeOf(Stamp::IsoMillisCache &stamps, qint64 atNs)
{
    const qint64 agoMs = (SessionClock::steady().nowNs() - atNs) / 1'000'000;
    // "YYYY-MM-DDTHH:MM:SS.mmm": the day is the same for every row worth comparing.
    return stamps.at(QDateTime::currentMSecsSinceEpoch() - agoMs).mid(11);
}
} // namespace

ExchangeModel::ExchangeModel(int limit, QObject *parent)
    : QAbstractTableModel(parent)
    , m_limit(qMax(limit, 1))
{
    m_batch.setSingleShot(true);
    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, &ExchangeModel::announce);
}

void ExchangeModel::take(const LineEvent &event)
{
    switch (event.kind) {
    case LineEvent::Kind::Received: {
        Row row;
        row.time = timeOf(m_stamps, event.atNs);
        row.bytes = event.bytes;
        m_lastReadNs = event.atNs;
        append(std::move(row));
        return;
    }
    case LineEvent::Kind::Sent: {
        Row row;
        row.time = timeOf(m_stamps, event.atNs);
        row.outgoing = true;
        row.bytes = event.bytes;
        if (m_lastReadNs)
            row.afterReadNs = event.atNs - *m_lastReadNs;
        append(std::move(row));
        m_unclaimed.push_back(m_dropped + qint64(m_rows.size()) - 1);
        if (m_unclaimed.size() > kUnclaimedKept)
            m_unclaimed.pop_front();
        return;
    }
    case LineEvent::Kind::Answer:
    case LineEvent::Kind::Refused:
        claimAnswer(event);
        return;
    case LineEvent::Kind::Unanswered:
        noteUnanswered(event);
        return;
    case LineEvent::Kind::Start:
        m_lastReadNs.reset();
        m_unclaimed.clear();
        return;
    case LineEvent::Kind::Overrun:
    case LineEvent::Kind::Flow:
    case LineEvent::Kind::Break:
    case LineEvent::Kind::BreakSent:
        noteLine(event);
        return;
    default:
        return;
    }
}

// What the line itself did, beside the exchanges: bytes lost to a full receive buffer, the
// instrument's XOFF and XON, breaks either way.
void ExchangeModel::noteLine(const LineEvent &event)
{
    Row row;
    row.time = timeOf(m_stamps, event.atNs);
    switch (event.kind) {
    case LineEvent::Kind::Overrun:
        row.bytes = event.bytes;
        row.note = QStringLiteral("受信バッファあふれ");
        break;
    case LineEvent::Kind::Flow:
        row.outgoing = true;
        if (event.message == QLatin1String("XOFF") || event.message == QLatin1String("XON"))
            row.bytes = QByteArray(1, event.message == QLatin1String("XOFF") ? '\x13' : '\x11');
        row.note = QStringLiteral("受信バッファ %1/%2: %3").arg(event.count).arg(event.size).arg(event.message);
        break;
    default:
        row.outgoing = event.kind == LineEvent::Kind::BreakSent;
        row.note = QStringLiteral("ブレーク %1 ms").arg(event.count);
        break;
    }
    append(std::move(row));
}

void ExchangeModel::claimAnswer(const LineEvent &event)
{
    if (claimWrites(event))
        return;
    // Nothing of it went out (a drop, a refusal): the answer stands as a row of its own.
    Row row;
    row.time = timeOf(m_stamps, event.atNs);
    row.outgoing = true;
    row.bytes = event.bytes;
    row.rule = event.rule;
    row.faults = event.faults;
    row.note = event.message;
    append(std::move(row));
}

// The answer's bytes are the last writes not yet claimed, in order; its rule, faults and delay
// go on them, the delay on the first.
bool ExchangeModel::claimWrites(const LineEvent &event)
{
    if (event.bytes.isEmpty())
        return false;
    QByteArray written;
    size_t first = m_unclaimed.size();
    while (first > 0 && written.size() < event.bytes.size()) {
        const qint64 place = m_unclaimed[first - 1] - m_dropped;
        if (place < 0)
            break;
        --first;
        written.prepend(m_rows[size_t(place)].bytes);
    }
    if (written != event.bytes)
        return false;
    for (size_t i = first; i < m_unclaimed.size(); ++i) {
        Row &row = m_rows[size_t(m_unclaimed[i] - m_dropped)];
        row.rule = event.rule;
        row.faults = event.faults;
        row.note = event.message;
        if (i == first)
            row.delayNs = row.afterReadNs;
        changed(m_unclaimed[i]);
    }
    m_unclaimed.clear();
    return true;
}

// The reads are already rows: the latest tells that nothing answered them.
void ExchangeModel::noteUnanswered(const LineEvent &event)
{
    for (auto row = m_rows.rbegin(); row != m_rows.rend(); ++row) {
        if (row->outgoing)
            continue;
        row->note = event.message.isEmpty() ? QStringLiteral("応答なし")
                                            : QStringLiteral("応答なし: %1").arg(event.message);
        changed(m_dropped + qint64(m_rows.rend() - row) - 1);
        return;
    }
}

void ExchangeModel::changed(qint64 sequence)
{
    const int place = int(sequence - m_dropped);
    if (place >= m_announced)
        return; // the views see it as it is when it is announced
    emit dataChanged(index(place, 0), index(place, ColumnCount - 1));
}

void ExchangeModel::append(Row row)
{
    m_rows.push_back(std::move(row));
    // However late the batch, the rows waiting for it stay bounded.
    if (int(m_rows.size()) >= 2 * m_limit)
        announce();
    else if (!m_batch.isActive())
        m_batch.start();
}

void ExchangeModel::announce()
{
    m_batch.stop();
    const int excess = int(m_rows.size()) - m_limit;
    if (excess > 0) {
        // Rows never announced go unseen; the views are told of those they have.
        const int seen = qMin(excess, m_announced);
        if (seen > 0)
            beginRemoveRows(QModelIndex(), 0, seen - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + excess);
        m_dropped += excess;
        m_announced -= seen;
        if (seen > 0)
            endRemoveRows();
    }
    if (int(m_rows.size()) > m_announced) {
        beginInsertRows(QModelIndex(), m_announced, int(m_rows.size()) - 1);
        m_announced = int(m_rows.size());
        endInsertRows();
    }
}

int ExchangeModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_announced;
}

int ExchangeModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ExchangeModel::cell(const Row &row, int column) const
{
    switch (column) {
    case Time:
        return row.time;
    case Direction:
        return row.outgoing ? QStringLiteral("送信") : QStringLiteral("受信");
    case Hex:
        return QString::fromLatin1(row.bytes.toHex(' ').toUpper());
    case Text:
        return LogText::shown(row.bytes);
    case Rule:
        return row.rule;
    case Delay:
        return row.delayNs ? QString::number(double(*row.delayNs) / 1e6, 'f', 1) : QString();
    case Faults: {
        QStringList parts = row.faults;
        if (!row.note.isEmpty())
            parts.append(row.note);
        return parts.join(QStringLiteral(", "));
    }
    }
    return QString();
}

QVariant ExchangeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_announced)
        return QVariant();
    const Row &row = m_rows[size_t(index.row())];
    if (role == kOutgoingRole)
        return row.outgoing;
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cell(row, index.column());
    return QVariant();
}

QVariant ExchangeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    const QString names[ColumnCount] = { QStringLiteral("時刻"), QStringLiteral("方向"),
        QStringLiteral("16進"), QStringLiteral("テキスト"), QStringLiteral("規則"),
        QStringLiteral("遅延 ms"), QStringLiteral("障害") };
    return section >= 0 && section < ColumnCount ? names[section] : QVariant();
}
