#pragma once

#include "settings/applysettings.h"
#include "settings/settingsrecords.h"
#include "startup/windowservices.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLineEdit;
class frmSOKUTEI;

namespace Ui {
class frmOPTION;
}

// The settings dialog: every setting of the four files, confirmed with OK.
class frmOPTION : public QWidget
{
    Q_OBJECT

public:
    frmOPTION(frmSOKUTEI &mainWindow, SettingsRecords &records, const QString &appFolder,
              const WindowServices &services, QWidget *parent = nullptr);
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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void backToMainWindow();
    void followCommunication(bool communicating);

    std::unique_ptr<Ui::frmOPTION> ui;
    frmSOKUTEI &m_main;
    SettingsRecords &m_records;
    QString m_appFolder;
    WindowServices m_services;
    bool m_loaded = false;
};
