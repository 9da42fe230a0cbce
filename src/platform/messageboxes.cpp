#include "platform/messageboxes.h"

#include <QMessageBox>

namespace {
QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                const QString &text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    box.setTextFormat(Qt::PlainText);
    return QMessageBox::StandardButton(box.exec());
}
} // namespace

void QtMessageBoxes::information(QWidget *parent, const QString &title, const QString &text)
{
    ask(parent, QMessageBox::NoIcon, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtMessageBoxes::okCancel(QWidget *parent, const QString &title, const QString &text)
{
    return ask(parent, QMessageBox::NoIcon, title, text, QMessageBox::Ok | QMessageBox::Cancel,
               QMessageBox::Ok)
            == QMessageBox::Ok;
}

bool QtMessageBoxes::yesNo(QWidget *parent, const QString &title, const QString &text)
{
    return ask(parent, QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes)
            == QMessageBox::Yes;
}

void QtMessageBoxes::warning(QWidget *parent, const QString &title, const QString &text)
{
    ask(parent, QMessageBox::Warning, title, text, QMessageBox::Ok, QMessageBox::Ok);
}
