#pragma once

#include <QSortFilterProxyModel>
#include <QString>

// Which exchanges the table shows: those of one direction or both, and those with the text
// in their hex, text, rule or faults (the hex also as digits without spaces, as people type it).
class ExchangeFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    enum class Direction { Both, In, Out };

    explicit ExchangeFilter(QObject *parent = nullptr)
        : QSortFilterProxyModel(parent)
    { }

    void setText(const QString &text);
    void setDirection(Direction direction);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_text;
    Direction m_direction = Direction::Both;
};
