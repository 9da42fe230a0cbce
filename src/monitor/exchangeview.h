#pragma once

#include <QString>
#include <QTableView>

// The table of exchanges: Ctrl+C copies the selected rows as tab-separated lines (as a
// spreadsheet pastes them), and new rows are followed only while the view is at the bottom.
class ExchangeView : public QTableView
{
    Q_OBJECT

public:
    explicit ExchangeView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    // The selected rows, in the order shown, each column's text between tabs.
    QString selectedRowsText() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void rememberPlace();
    void followIfAtBottom();

    bool m_atBottom = true;
};
