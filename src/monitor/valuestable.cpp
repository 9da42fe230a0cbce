#include "monitor/valuestable.h"

#include "log/logtext.h"

#include <QHeaderView>

namespace {
enum Column { Name, Kind, Reading };

QTableWidgetItem *fixedItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}
} // namespace

ValuesTable::ValuesTable(QWidget *parent)
    : QTableWidget(0, 3, parent)
{
    setHorizontalHeaderLabels(
        { QStringLiteral("名前"), QStringLiteral("種類"), QStringLiteral("現在値") });
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed);
    connect(this, &QTableWidget::itemChanged, this, &ValuesTable::onItemChanged);
}

void ValuesTable::showValues(const std::vector<SessionView::Value> &values)
{
    const bool sameNames = values.size() == m_shown.size()
        && std::equal(values.begin(), values.end(), m_shown.begin(),
            [](const auto &a, const auto &b) { return a.name == b.name; });
    if (!sameNames) {
        rebuild(values);
        return;
    }
    m_filling = true;
    const QModelIndex editing = state() == EditingState ? currentIndex() : QModelIndex();
    for (size_t i = 0; i < values.size(); ++i) {
        if (editing.isValid() && editing.row() == int(i))
            continue;
        item(int(i), Reading)->setText(LogText::shown(values[i].reading));
    }
    m_shown = values;
    m_filling = false;
}

void ValuesTable::rebuild(const std::vector<SessionView::Value> &values)
{
    m_filling = true;
    setRowCount(int(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        const SessionView::Value &value = values[i];
        const int row = int(i);
        setItem(row, Name, fixedItem(value.name));
        setItem(
            row, Kind, fixedItem(value.stored ? QStringLiteral("保存") : QStringLiteral("生成")));
        QTableWidgetItem *reading = value.stored
            ? new QTableWidgetItem(LogText::shown(value.reading))
            : fixedItem(LogText::shown(value.reading));
        setItem(row, Reading, reading);
    }
    m_shown = values;
    m_filling = false;
}

void ValuesTable::onItemChanged(QTableWidgetItem *changed)
{
    if (m_filling || changed->column() != Reading)
        return;
    const size_t row = size_t(changed->row());
    if (row >= m_shown.size() || !m_shown[row].stored)
        return;
    emit valueEdited(m_shown[row].name, changed->text(), m_shown[row].number);
}
