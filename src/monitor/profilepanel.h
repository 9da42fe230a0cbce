#pragma once

#include "profile/modemlines.h"
#include "session/lineevent.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class SessionView;

// The instrument in force: its profile and seed (selectable, to paste into --seed), its line
// settings and the host's, and the modem lines of both ends. Told by the line events and the
// session's view; a click on one of the instrument's lines asks for it to be switched.
class ProfilePanel : public QWidget
{
    Q_OBJECT

public:
    explicit ProfilePanel(const SessionView &view, QWidget *parent = nullptr);

    void take(const LineEvent &event);
    void showInstrumentLines(const ModemLines &lines);

signals:
    // line: cts, dsr, dcd or ri.
    void lineSwitchAsked(const QString &line, bool up);

private:
    QLineEdit *readOnlyField(const char *name);
    QCheckBox *lineBox(const char *name, const QString &line);

    const SessionView &m_view;
    QLineEdit *m_path = nullptr;
    QLineEdit *m_seed = nullptr;
    QLineEdit *m_instrumentLine = nullptr;
    QLineEdit *m_hostLine = nullptr;
    QLabel *m_hostLines = nullptr;
    QCheckBox *m_cts = nullptr;
    QCheckBox *m_dsr = nullptr;
    QCheckBox *m_dcd = nullptr;
    QCheckBox *m_ri = nullptr;
};
