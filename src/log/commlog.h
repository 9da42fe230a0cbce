#pragma once

#include "platform/timestamp.h"

#include <QAbstractListModel>
#include <QBasicTimer>
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <deque>
#include <vector>

// The communication log: an append-only list of lines, each held as the code page 932
// bytes that made it (the stamp, the program's text, the bytes that crossed the line), so
// the saved file can give back the bytes of the line exactly.
// Lines are packed into blocks; appending is O(1) and copies nothing but the new line.
// Past either cap (lines or bytes) the oldest block goes as a whole, so a run of days or a
// host flooding the port keeps memory bounded.
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
    static constexpr qint64 kDefaultKeepBytes = qint64(256) << 20;
    // About 30 view updates a second: smooth to the eye, cheap for the event loop.
    static constexpr int kAnnounceMs = 33;

    // Keeps the newest keepLines lines (up to a block more), or fewer where those would take
    // more than keepBytes: the byte cap is never passed but by the block being filled.
    explicit CommLog(int keepLines = kDefaultKeepLines, qint64 keepBytes = kDefaultKeepBytes,
                     QObject *parent = nullptr);

    // A line as it is: used for the caption line, which has no stamp.
    void appendLine(const QByteArray &line);
    // "[stamp] text": text that came from the program (encoded to code page 932).
    void appendStamped(const QString &text);
    // "[stamp] bytes": bytes that went over the line, kept as they are.
    void appendStampedBytes(const QByteArray &bytes);
    // "[stamp] command→answer": the two are read apart, so a command that ends in half a
    // character cannot take the arrow for its second byte.
    void appendExchange(QByteArrayView command, QByteArrayView answer);

    // A line in the parts that are read apart: the stamp and its blank as they are (empty on
    // a caption line), then one or two runs of bytes, each a text of its own. Valid until the
    // next append.
    struct Parts
    {
        QByteArrayView stamp;
        QByteArrayView head;
        QByteArrayView tail;
    };
    Parts parts(int index) const;

    int lineCount() const { return int(m_count); }
    QByteArray line(int index) const;
    // The same bytes without a copy; valid until the next append.
    QByteArrayView lineView(int index) const;
    // The line for the screen: control characters written the way the settings dialog takes
    // them ("[CR]", "[ACK]"), so a received command reads like the one that was typed, and a
    // byte that is no character of its own as [xHH] (LogText::appendShown), part by part.
    // Pictures such as U+240D are unreadable at list-font size.
    QString displayText(int index) const;
    // Lines dropped from the front since the program started.
    qint64 droppedLines() const { return m_dropped; }
    // What the kept lines cost, as the byte cap counts it: their bytes and their index.
    qint64 heldBytes() const { return m_heldBytes; }

    // Tells views now about every line appended since the last batch, instead of at the
    // next tick (for a view that must be complete at once, such as before a screenshot).
    void announceAppendedRows();

    // Rows the views have been told about; lineCount() may be ahead by the current batch.
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

signals:
    // Emitted at once for every appended line, before any view catches up: for readers that
    // follow the log as it grows (a console, a test).
    void lineAppended(int index);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // Where a line lies in its block's text: it ends at end; the low kStampBits of parts are
    // the length of its stamp and blank, the rest how far past them its second part begins
    // (0: it has none; a first part too long to say so is read with the second).
    static constexpr int kStampBits = 6;
    struct Span
    {
        quint32 end;
        quint32 parts;
    };
    struct Block
    {
        qint64 first = 0; // number of the block's first line since the program started
        QByteArray text;
        std::vector<Span> spans;
    };
    Block &blockWithRoom(qsizetype incoming);
    void lineAdded(Block &block, qsizetype start, qsizetype body, qsizetype tail);
    Block &stampedBlock(qsizetype incoming, qsizetype *start, qsizetype *body);
    void dropOldestBlocksIfFull(qsizetype incoming);
    const Block *blockOf(int index, size_t *line) const;

    std::deque<Block> m_blocks;
    qsizetype m_count = 0;
    qsizetype m_announced = 0; // rows the model has reported; a prefix of the stored lines
    qint64 m_dropped = 0;
    qint64 m_heldBytes = 0;
    int m_keepLines;
    qint64 m_keepBytes;
    qint64 m_blockBytes; // a block takes no more lines once its text is this long
    QBasicTimer m_announceTimer;
    Stamp::SecondCache m_stamp;
    // Most stamped texts are the same few fixed ones (the continuous output, the start and
    // stop lines), so the last one's encoding is kept.
    QString m_lastText;
    QByteArray m_lastEncoded;
};
