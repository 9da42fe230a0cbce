#include "startup/logtooltip.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

LogToolTip::LogToolTip(QAbstractItemView &view)
    : QObject(&view)
    , m_view(view)
    , m_viewport(view.viewport())
{
    m_viewport->installEventFilter(this);
}

bool LogToolTip::eventFilter(QObject *watched, QEvent *event)
{
    // Kept from the start: while the view is destroyed its viewport still sends events, and
    // the view is no scroll area any more to be asked for it.
    if (event->type() != QEvent::ToolTip || watched != m_viewport)
        return QObject::eventFilter(watched, event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = m_view.indexAt(help->pos());
    const QString line = index.data().toString();
    const QRect place = m_view.visualRect(index);
    // The item's text starts a small margin in: a line as wide as the viewport is cut too.
    const int needed = m_view.fontMetrics().horizontalAdvance(line)
        + 2 * m_view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &m_view) + 2;
    if (index.isValid() && place.left() + needed > m_view.viewport()->width())
        QToolTip::showText(help->globalPos(), line, &m_view, place);
    else
        QToolTip::hideText();
    return true;
}
