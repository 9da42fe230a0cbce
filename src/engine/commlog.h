#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>

// The communication log: an append-only list of lines, each held as the code page 932
// bytes it is saved with, so the saved file repeats the bytes of the line exactly.
// Lines are packed into blocks; appending is O(1) and costs a few bytes beyond the text.
// Past the cap the oldest block goes as a whole, so a run of days keeps memory bounded.
class CommLog : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int kBlockLines = 4096;
    static constexpr int kDefaultKeepLines = 1'000'000;

    explicit CommLog(int keepLines = kDefaultKeepLines, QObject *parent = nullptr);

    // A line as it is: used for the caption line, which has no stamp.
    void appendLine(const QByteArray &line);
    // "[stamp] text": text that came from the program (encoded to code page 932).
    void appendStamped(const QString &text);
    // "[stamp] bytes": bytes that went over the line, kept as they are.
    void appendStampedBytes(const QByteArray &bytes);

    int lineCount() const { return int(m_count); }
    QByteArray line(int index) const;
    // The line for the screen: control characters written the way the settings dialog takes
    // them ("[CR]", "[ACK]"), so a received command reads like the one that was typed.
    // Pictures such as U+240D are unreadable at list-font size.
    QString displayText(int index) const;
    // Lines dropped from the front since the program started.
    qint64 droppedLines() const { return m_dropped; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    static QString visibleControls(const QString &text);

signals:
    // Emitted at once for every appended line, before any view catches up: for readers that
    // follow the log as it grows (a console, a test).
    void lineAppended(int index);

private:
    struct Block
    {
        QByteArray text;
        std::vector<quint32> ends; // end offset of each line in text
    };
    void dropOldestBlockIfFull();

    std::deque<Block> m_blocks;
    qsizetype m_count = 0;
    qint64 m_dropped = 0;
    int m_keepLines;
};
