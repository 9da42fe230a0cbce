#pragma once

#include "monitor/monitorrequests.h"
#include "session/lineevent.h"
#include "session/sessionview.h"

#include <QTimer>
#include <QWidget>

class CommSession;
class ExchangeFilter;
class ExchangeModel;
class ExchangeView;
class FaultSwitches;
class ProfilePanel;
class QComboBox;
class QLabel;
class QLineEdit;
class ValuesTable;

// The line monitor: a window over the session in force, beside the main window's log. What it
// shows of the line is made from the session's line events, the records the --events stream
// writes, so the two never disagree; the rest it reads through a SessionView. It changes the
// run only by the control channel's requests: set a value, switch a fault, send, set a line.
class MonitorWindow : public QWidget
{
    Q_OBJECT

public:
    // The session is the caller's and outlives the window. rowLimit: the exchanges kept.
    explicit MonitorWindow(CommSession &session, int rowLimit = 10'000, QWidget *parent = nullptr);
    ~MonitorWindow() override;

    // Shows the window, brought forward.
    void bringForward();

private:
    void buildLayout();
    QWidget *buildFilterRow();
    void connectRequests();
    void onLineEvent(const LineEvent &event);
    void refreshNow();
    void applyFilter();
    void showCounts();
    // Tells the refusal of a request, or clears the last one; the tables show the session as
    // it is afterwards.
    void tellOutcome(const QString &refusal);

    CommSession &m_session;
    SessionView m_view;
    MonitorRequests m_requests;
    ExchangeModel *m_exchanges = nullptr;
    ExchangeFilter *m_filter = nullptr;
    ExchangeView *m_table = nullptr;
    ProfilePanel *m_profile = nullptr;
    ValuesTable *m_values = nullptr;
    FaultSwitches *m_faults = nullptr;
    QLineEdit *m_filterText = nullptr;
    QComboBox *m_direction = nullptr;
    QLabel *m_counts = nullptr;
    QLabel *m_status = nullptr;
    // Readings change with every answer: the tables follow them at most this often.
    QTimer m_refresh;
};
