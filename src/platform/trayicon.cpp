#include "platform/trayicon.h"

#include <QMenu>
#include <QSystemTrayIcon>

QtTrayIcon::QtTrayIcon() = default;

QtTrayIcon::~QtTrayIcon()
{
    remove();
}

bool QtTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayIcon::registerIcon(const QIcon &icon, const QString &tip)
{
    // One QSystemTrayIcon, updated in place: the desktop never shows two of ours.
    if (!m_icon) {
        m_icon = new QSystemTrayIcon();
        if (m_menu)
            m_icon->setContextMenu(m_menu);
        QObject::connect(m_icon, &QSystemTrayIcon::activated, m_icon,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Context && m_menuRequested)
                                 m_menuRequested();
                         });
    }
    m_icon->setIcon(icon);
    m_icon->setToolTip(tip);
    m_icon->show();
}

void QtTrayIcon::remove()
{
    if (!m_icon)
        return;
    m_icon->hide();
    delete m_icon;
    m_icon = nullptr;
}

bool QtTrayIcon::isRegistered() const
{
    return m_icon && m_icon->isVisible();
}

QString QtTrayIcon::tip() const
{
    return m_icon ? m_icon->toolTip() : QString();
}

void QtTrayIcon::setMenuRequestHandler(std::function<void()> handler)
{
    m_menuRequested = std::move(handler);
}

void QtTrayIcon::setMenu(QMenu *menu)
{
    m_menu = menu;
    if (m_icon)
        m_icon->setContextMenu(menu);
}
