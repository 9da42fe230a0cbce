#pragma once

#include "platform/timestamp.h"
#include "session/lineevent.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

// The exchanges of a run as table rows, made from the line events the --events stream writes:
// a row for each read (in) and each write the port took (out). An answer's event names the
// rule and faults of the writes it was made of, so those rows are claimed by it; an answer
// that sent nothing (a drop) is a row of its own. At most limit rows are kept, the oldest
// going first, so a host that floods the line cannot grow the memory without end. Views are
// told of new rows in batches, a few times a second: a row at a time would cost a flooded
// line more than answering it.
class ExchangeModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Time, Direction, Hex, Text, Rule, Delay, Faults, ColumnCount };
    // Qt::UserRole on any column: true for a row the instrument sent.
    static constexpr int kOutgoingRole = Qt::UserRole;

    explicit ExchangeModel(int limit = 10'000, QObject *parent = nullptr);

    void take(const LineEvent &event);
    int limit() const { return m_limit; }
    // Tells the views of the rows taken since the last batch, after dropping the oldest.
    void announce();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row
    {
        QString time;
        bool outgoing = false;
        QByteArray bytes;
        QString rule;
        // From the last read before an answer's first write.
        std::optional<qint64> delayNs;
        QStringList faults;
        QString note;
        // Out rows: since the last read when written.
        std::optional<qint64> afterReadNs;
    };

    void append(Row row);
    void claimAnswer(const LineEvent &event);
    bool claimWrites(const LineEvent &event);
    void noteUnanswered(const LineEvent &event);
    QString cell(const Row &row, int column) const;
    void noteLine(const LineEvent &event);
    void changed(qint64 sequence);

    int m_limit;
    std::deque<Row> m_rows;
    // The rows views know of: the first m_announced of m_rows.
    int m_announced = 0;
    QTimer m_batch;
    // Rows dropped off the front: a row's sequence less this is its place.
    qint64 m_dropped = 0;
    // Out rows no answer has claimed yet, by sequence, oldest first.
    std::deque<qint64> m_unclaimed;
    std::optional<qint64> m_lastReadNs;
    Stamp::IsoMillisCache m_stamps;
};
