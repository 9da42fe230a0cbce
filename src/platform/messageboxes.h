#pragma once

#include <QString>

class QWidget;

// The program's questions and notices. Windows ask through this so tests can answer.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // OK only, no icon.
    virtual void information(QWidget *parent, const QString &title, const QString &text) = 0;
    // OK and Cancel; true for OK.
    virtual bool okCancel(QWidget *parent, const QString &title, const QString &text) = 0;
    // Yes and No; true for Yes.
    virtual bool yesNo(QWidget *parent, const QString &title, const QString &text) = 0;
    // OK only, with the warning icon: a failure the user must know about.
    virtual void warning(QWidget *parent, const QString &title, const QString &text) = 0;
};

// Message boxes on the screen.
class QtMessageBoxes : public MessageBoxes
{
public:
    void information(QWidget *parent, const QString &title, const QString &text) override;
    bool okCancel(QWidget *parent, const QString &title, const QString &text) override;
    bool yesNo(QWidget *parent, const QString &title, const QString &text) override;
    void warning(QWidget *parent, const QString &title, const QString &text) override;
};
