#include "monitor/faultswitches.h"

#include <QHeaderView>

FaultSwitches::FaultSwitches(QWidget *parent)
    : QTableWidget(0, 2, parent)
{
    setHorizontalHeaderLabels({ QStringLiteral("規則"), QStringLiteral("障害") });
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QTableWidget::itemChanged, this, &FaultSwitches::onItemChanged);
}

void FaultSwitches::showFaults(const std::vector<SessionView::FaultSwitch> &faults)
{
    m_filling = true;
    if (faults.size() != m_shown.size())
        setRowCount(int(faults.size()));
    for (size_t i = 0; i < faults.size(); ++i) {
        const SessionView::FaultSwitch &fault = faults[i];
        const int row = int(i);
        if (!item(row, 0)) {
            setItem(row, 0, new QTableWidgetItem);
            setItem(row, 1, new QTableWidgetItem);
            item(row, 0)->setFlags(Qt::ItemIsEnabled);
            item(row, 1)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        }
        item(row, 0)->setText(fault.rule);
        item(row, 1)->setText(Profile::faultName(fault.kind));
        item(row, 1)->setCheckState(fault.enabled ? Qt::Checked : Qt::Unchecked);
    }
    m_shown = faults;
    m_filling = false;
}

void FaultSwitches::onItemChanged(QTableWidgetItem *changed)
{
    const size_t row = size_t(changed->row());
    if (m_filling || changed->column() != 1 || row >= m_shown.size())
        return;
    const bool enabled = changed->checkState() == Qt::Checked;
    if (enabled != m_shown[row].enabled)
        emit faultSwitchAsked(m_shown[row].rule, Profile::faultName(m_shown[row].kind), enabled);
}
