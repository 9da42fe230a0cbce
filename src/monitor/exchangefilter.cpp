#include "monitor/exchangefilter.h"

#include "monitor/exchangemodel.h"

void ExchangeFilter::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    invalidateRowsFilter();
}

void ExchangeFilter::setDirection(Direction direction)
{
    if (direction == m_direction)
        return;
    m_direction = direction;
    invalidateRowsFilter();
}

bool ExchangeFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QAbstractItemModel *source = sourceModel();
    const auto cell = [&](int column) {
        return source->index(sourceRow, column, sourceParent).data().toString();
    };
    if (m_direction != Direction::Both) {
        const bool outgoing
            = source->index(sourceRow, 0, sourceParent).data(ExchangeModel::kOutgoingRole).toBool();
        if (outgoing != (m_direction == Direction::Out))
            return false;
    }
    if (m_text.isEmpty())
        return true;
    const QString hex = cell(ExchangeModel::Hex);
    for (const QString &shown : { hex, QString(hex).remove(QLatin1Char(' ')),
             cell(ExchangeModel::Text), cell(ExchangeModel::Rule), cell(ExchangeModel::Faults) }) {
        if (shown.contains(m_text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
