#pragma once

#include <Qt>

class QColor;
class QWidget;

// What the program's three windows share: the fixed dialog frame, the window icon, the
// striped background picture, and centring on the screen.
namespace WindowLook {

// A fixed-size frame with a title bar and close box, no minimise or maximise box; type
// is Qt::Window, Qt::Dialog or Qt::Tool (a window kept off the taskbar).
void applyFixedFrame(QWidget *window, Qt::WindowType type);

// Centres the window, frame included, on its screen.
void centreOnScreen(QWidget *window);

// Paints the widget's background in one colour.
void fillBackground(QWidget *widget, const QColor &colour);

} // namespace WindowLook
