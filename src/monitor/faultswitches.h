#pragma once

#include "session/sessionview.h"

#include <QTableWidget>

#include <vector>

// Each fault each rule has, with its switch; a click asks for the fault to be switched.
class FaultSwitches : public QTableWidget
{
    Q_OBJECT

public:
    explicit FaultSwitches(QWidget *parent = nullptr);

    void showFaults(const std::vector<SessionView::FaultSwitch> &faults);

signals:
    void faultSwitchAsked(const QString &rule, const QString &fault, bool enabled);

private:
    void onItemChanged(QTableWidgetItem *item);

    std::vector<SessionView::FaultSwitch> m_shown;
    bool m_filling = false;
};
