#include "monitor/profilepanel.h"

#include "session/sessionview.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace {
QString upOrDown(bool up)
{
    return up ? QStringLiteral("ON") : QStringLiteral("OFF");
}
} // namespace

ProfilePanel::ProfilePanel(const SessionView &view, QWidget *parent)
    : QWidget(parent)
    , m_view(view)
{
    auto *form = new QFormLayout(this);
    m_path = readOnlyField("txtProfilePath");
    m_seed = readOnlyField("txtSeed");
    m_instrumentLine = readOnlyField("txtInstrumentLine");
    m_hostLine = readOnlyField("txtHostLine");
    m_hostLine->setText(QStringLiteral("(未設定)"));
    form->addRow(QStringLiteral("プロファイル"), m_path);
    form->addRow(QStringLiteral("シード"), m_seed);
    form->addRow(QStringLiteral("計器の通信設定"), m_instrumentLine);
    form->addRow(QStringLiteral("ホストの通信設定"), m_hostLine);

    auto *lines = new QHBoxLayout;
    m_cts = lineBox("chkCts", QStringLiteral("cts"));
    m_dsr = lineBox("chkDsr", QStringLiteral("dsr"));
    m_dcd = lineBox("chkDcd", QStringLiteral("dcd"));
    m_ri = lineBox("chkRi", QStringLiteral("ri"));
    for (QCheckBox *box : { m_cts, m_dsr, m_dcd, m_ri })
        lines->addWidget(box);
    lines->addStretch();
    form->addRow(QStringLiteral("計器の信号線"), lines);
    m_hostLines = new QLabel(QStringLiteral("DTR ? RTS ?"), this);
    m_hostLines->setObjectName(QStringLiteral("lblHostLines"));
    form->addRow(QStringLiteral("ホストの信号線"), m_hostLines);

    m_instrumentLine->setText(m_view.lineInForce());
    showInstrumentLines(m_view.instrumentLines());
}

QLineEdit *ProfilePanel::readOnlyField(const char *name)
{
    auto *field = new QLineEdit(this);
    field->setObjectName(QLatin1String(name));
    field->setReadOnly(true);
    return field;
}

QCheckBox *ProfilePanel::lineBox(const char *name, const QString &line)
{
    auto *box = new QCheckBox(line.toUpper(), this);
    box->setObjectName(QLatin1String(name));
    // clicked, not toggled: only the user's click is a request; a shown change is none.
    connect(
        box, &QCheckBox::clicked, this, [this, line](bool up) { emit lineSwitchAsked(line, up); });
    return box;
}

void ProfilePanel::take(const LineEvent &event)
{
    switch (event.kind) {
    case LineEvent::Kind::Start:
    case LineEvent::Kind::Load:
        // A load while stopped names the profile; its seed comes with the next Start.
        m_path->setText(
            event.profile.isEmpty() ? QStringLiteral("(なし: 固定の計器)") : event.profile);
        m_seed->setText(event.seed ? QString::number(*event.seed) : QString());
        m_instrumentLine->setText(m_view.lineInForce());
        showInstrumentLines(m_view.instrumentLines());
        return;
    case LineEvent::Kind::Stop:
        m_instrumentLine->setText(m_view.lineInForce());
        return;
    case LineEvent::Kind::LineSettings:
        m_hostLine->setText(
            event.agree ? event.hostLine : QStringLiteral("%1 (計器と異なる)").arg(event.hostLine));
        return;
    case LineEvent::Kind::HostLines:
        m_hostLines->setText(
            QStringLiteral("DTR %1  RTS %2").arg(upOrDown(event.dtr), upOrDown(event.rts)));
        return;
    default:
        return;
    }
}

void ProfilePanel::showInstrumentLines(const ModemLines &lines)
{
    m_cts->setChecked(lines.cts);
    m_dsr->setChecked(lines.dsr);
    m_dcd->setChecked(lines.dcd);
    m_ri->setChecked(lines.ri);
}
