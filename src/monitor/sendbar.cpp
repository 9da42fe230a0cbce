#include "monitor/sendbar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

SendBar::SendBar(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_bytes = new QLineEdit(this);
    m_bytes->setObjectName(QStringLiteral("txtSendNow"));
    m_bytes->setPlaceholderText(QStringLiteral("ABC[CR][LF] または 41 42 43 0D 0A"));
    m_form = new QComboBox(this);
    m_form->setObjectName(QStringLiteral("cboSendAs"));
    m_form->addItems({ QStringLiteral("テキスト"), QStringLiteral("16進") });
    auto *send = new QPushButton(QStringLiteral("送信"), this);
    send->setObjectName(QStringLiteral("cmdSendNow"));
    send->setAutoDefault(false);
    row->addWidget(new QLabel(QStringLiteral("今すぐ送信"), this));
    row->addWidget(m_bytes, 1);
    row->addWidget(m_form);
    row->addWidget(send);
    connect(send, &QPushButton::clicked, this, &SendBar::askToSend);
    connect(m_bytes, &QLineEdit::returnPressed, this, &SendBar::askToSend);
}

void SendBar::askToSend()
{
    emit sendAsked(m_bytes->text(), m_form->currentIndex() == 1);
}
