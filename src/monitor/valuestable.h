#pragma once

#include "session/sessionview.h"

#include <QTableWidget>

#include <vector>

// The profile's values with their readings as last drawn; a stored value's reading is
// editable, and an edit asks for the value to be set. A reading being edited is not
// overwritten by the next refresh.
class ValuesTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit ValuesTable(QWidget *parent = nullptr);

    void showValues(const std::vector<SessionView::Value> &values);

signals:
    void valueEdited(const QString &name, const QString &text, bool asNumber);

private:
    void rebuild(const std::vector<SessionView::Value> &values);
    void onItemChanged(QTableWidgetItem *item);

    std::vector<SessionView::Value> m_shown;
    bool m_filling = false;
};
