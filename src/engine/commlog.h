#pragma once

#include "timestamp.h"

#include <QAbstractListModel>
#include <QBasicTimer>
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <deque>
#include <vector>

// The communication log: an append-only list of lines, each held as the code page 932
// bytes it is saved with, so the saved file repeats the bytes of the line exactly.
// Lines are packed into blocks; appending is O(1) and copies nothing but the new line.
// Past the cap the oldest block goes as a whole, so a run of days keeps memory bounded.
//
// A line is stored, and readable through line() and lineCount(), the moment its append
// returns. Views see it later: the model announces appended rows in batches, at most one
// batch per kAnnounceMs, because a list view that relaid itself out for every line would
// cost more than the line itself and hold up the port whose traffic is being logged.
class CommLog : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int kBlockLines = 4096;
    static constexpr int kDefaultKeepLines = 1'000'000;
    // About 30 view updates a second: smooth to the eye, cheap for the event loop.
    static constexpr int kAnnounceMs = 33;

    explicit CommLog(int keepLines = kDefaultKeepLines, QObject *parent = nullptr);

    // A line as it is: used for the caption line, which has no stamp.
    void appendLine(const QByteArray &line);
    // "[stamp] text": text that came from the program (encoded to code page 932).
    void appendStamped(const QString &text);
    // "[stamp] bytes": bytes that went over the line, kept as they are.
    void appendStampedBytes(const QByteArray &bytes);

    int lineCount() const { return int(m_count); }
    QByteArray line(int index) const;
    // The same bytes without a copy; valid until the next append.
    QByteArrayView lineView(int index) const;
    // The line for the screen: control characters written the way the settings dialog takes
    // them ("[CR]", "[ACK]"), so a received command reads like the one that was typed.
    // Pictures such as U+240D are unreadable at list-font size.
    QString displayText(int index) const;
    // Lines dropped from the front since the program started.
    qint64 droppedLines() const { return m_dropped; }

    // Tells views now about every line appended since the last batch, instead of at the
    // next tick (for a view that must be complete at once, such as before a screenshot).
    void announceAppendedRows();

    // Rows the views have been told about; lineCount() may be ahead by the current batch.
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    static QString visibleControls(const QString &text);

signals:
    // Emitted at once for every appended line, before any view catches up: for readers that
    // follow the log as it grows (a console, a test).
    void lineAppended(int index);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    struct Block
    {
        QByteArray text;
        std::vector<quint32> ends; // end offset of each line in text
    };
    Block &blockWithRoom();
    void lineAdded(Block &block);
    void dropOldestBlockIfFull();

    std::deque<Block> m_blocks;
    qsizetype m_count = 0;
    qsizetype m_announced = 0; // rows the model has reported; a prefix of the stored lines
    qint64 m_dropped = 0;
    int m_keepLines;
    QBasicTimer m_announceTimer;
    Stamp::SecondCache m_stamp;
    // Most stamped texts are the same few fixed ones (the continuous output, the start and
    // stop lines), so the last one's encoding is kept.
    QString m_lastText;
    QByteArray m_lastEncoded;
};
