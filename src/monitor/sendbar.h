#pragma once

#include <QWidget>

class QComboBox;
class QLineEdit;

// Bytes to send now, outside any answer: text in the profile notation ("ABC[CR][LF]") or
// hex digits in pairs.
class SendBar : public QWidget
{
    Q_OBJECT

public:
    explicit SendBar(QWidget *parent = nullptr);

signals:
    void sendAsked(const QString &bytes, bool asHex);

private:
    void askToSend();

    QLineEdit *m_bytes = nullptr;
    QComboBox *m_form = nullptr;
};
