#include "platform/windowlook.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

// The pictures are compiled into this static library, which keeps the linker from
// registering them by itself.
static void registerPictures()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(kalo);
        return true;
    }();
    Q_UNUSED(done);
}

namespace WindowLook {

void applyFixedFrame(QWidget *window, Qt::WindowType type)
{
    registerPictures();
    window->setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(window->size());
    window->setWindowIcon(QIcon(QStringLiteral(":/kalo/kalo.ico")));
    QPalette background = window->palette();
    background.setBrush(QPalette::Window, QBrush(QPixmap(QStringLiteral(":/kalo/background.png"))));
    window->setPalette(background);
    window->setAutoFillBackground(true);
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = window->frameGeometry().size();
    window->move(area.x() + area.width() / 2 - outer.width() / 2,
                 area.y() + area.height() / 2 - outer.height() / 2);
}

void fillBackground(QWidget *widget, const QColor &colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, colour);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

} // namespace WindowLook
