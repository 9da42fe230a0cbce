#pragma once

#include "startup/windowservices.h"

#include <QDialog>

#include <memory>

namespace Ui {
class frmAbout;
}

// The version dialog: product, version, what the program does, its terms and the
// maker's page. Modeless; it deletes itself when closed.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(const WindowServices &services, QWidget *parent = nullptr);
    ~frmAbout() override;

    static QString versionLine();

public slots:
    void Label3_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::frmAbout> ui;
    WindowServices m_services;
};
