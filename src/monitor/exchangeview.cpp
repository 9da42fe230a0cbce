#include "monitor/exchangeview.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>

ExchangeView::ExchangeView(QWidget *parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(true);
}

void ExchangeView::setModel(QAbstractItemModel *model)
{
    QTableView::setModel(model);
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, &ExchangeView::rememberPlace);
    connect(model, &QAbstractItemModel::rowsInserted, this, &ExchangeView::followIfAtBottom);
}

QString ExchangeView::selectedRowsText() const
{
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
        [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QString text;
    for (const QModelIndex &row : rows) {
        QStringList cells;
        for (int column = 0; column < model()->columnCount(); ++column)
            cells.append(model()->index(row.row(), column).data().toString());
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void ExchangeView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(selectedRowsText());
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ExchangeView::rememberPlace()
{
    const QScrollBar *bar = verticalScrollBar();
    m_atBottom = bar->value() >= bar->maximum();
}

void ExchangeView::followIfAtBottom()
{
    if (m_atBottom)
        scrollToBottom();
}
