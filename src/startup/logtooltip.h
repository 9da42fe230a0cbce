#pragma once

#include <QObject>

class QAbstractItemView;

// The log keeps the designed width and cuts long lines at its edge; resting the pointer on
// such a line shows it whole. A line that fits shows nothing.
class LogToolTip : public QObject
{
    Q_OBJECT

public:
    explicit LogToolTip(QAbstractItemView &view);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractItemView &m_view;
    QObject *m_viewport;
};
