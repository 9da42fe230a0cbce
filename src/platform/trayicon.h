#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>

class QMenu;

// The program's icon in the notification area.
class TrayIcon
{
public:
    virtual ~TrayIcon() = default;
    // Whether the desktop has a notification area at all.
    virtual bool isAvailable() const = 0;
    // Shows the icon with this picture and tip, replacing any earlier one (never a second).
    virtual void registerIcon(const QIcon &icon, const QString &tip) = 0;
    virtual void remove() = 0;
    virtual bool isRegistered() const = 0;
    virtual QString tip() const = 0;
    // The menu that a right click on the icon opens.
    virtual void setMenu(QMenu *menu) = 0;
    // Called when the user presses on the icon to open its menu.
    virtual void setMenuRequestHandler(std::function<void()> handler) = 0;
};

class QSystemTrayIcon;

class QtTrayIcon : public TrayIcon
{
public:
    QtTrayIcon();
    ~QtTrayIcon() override;
    bool isAvailable() const override;
    void registerIcon(const QIcon &icon, const QString &tip) override;
    void remove() override;
    bool isRegistered() const override;
    QString tip() const override;
    void setMenu(QMenu *menu) override;
    void setMenuRequestHandler(std::function<void()> handler) override;

private:

    QSystemTrayIcon *m_icon = nullptr;
    QMenu *m_menu = nullptr;
    std::function<void()> m_menuRequested;
};
