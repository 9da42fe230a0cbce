#pragma once

#include "settings/applysettings.h"
#include "startup/windowservices.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLineEdit;
class Station;

namespace Ui {
class frmOPTION;
}

// The settings dialog: every setting of the four files, confirmed with OK.
class frmOPTION : public QWidget
{
    Q_OBJECT

public:
    // mainWindow: hidden while the dialog is open, shown again when it closes.
    frmOPTION(Station &station, QWidget &mainWindow, const WindowServices &services,
              QWidget *parent = nullptr);
    ~frmOPTION() override;

    // Shows the dialog; the first showing fills it from the settings files, later ones show
    // the controls as the user left them.
    void showDialog();
    // Enables the boxes of the chosen output type and disables the others.
    void KEY_Locked();

    SettingsForm form() const;
    void setForm(const SettingsForm &form);

    QLineEdit *txtSend(int index) const;
    QLineEdit *txtJusin(int index) const;
    QComboBox *Combo1(int index) const;

    static QString confirmQuestion() { return QStringLiteral("設定を変更してもよろしいですか?"); }

public slots:
    void Command1_Click(); // OK
    void Command2_Click(); // ｷｬﾝｾﾙ
    void Command3_Click(); // 既定に設定(&E)

signals:
    // OK has done its work, whether or not the settings were stored: what shows them reads
    // them again.
    void okFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void backToMainWindow();
    void followCommunication(bool communicating);

    std::unique_ptr<Ui::frmOPTION> ui;
    Station &m_station;
    QWidget &m_main;
    WindowServices m_services;
    bool m_loaded = false;
};
