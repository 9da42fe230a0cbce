#pragma once

#include "settingsrecords.h"

#include <QObject>
#include <QTimer>

class CommLog;
class SerialComm;

// The simulator's line work: Start and Stop with the continuous-output loop, and the
// answers to device commands. The window around it only changes how things look.
class CommSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int kReceiveWaitSeconds = 1;
    static constexpr int kPortRetryMs = 1000;

    CommSession(SettingsRecords &records, SerialComm &port, CommLog &log, QObject *parent = nullptr);

    // Switches answering on and, for continuous output, runs the output loop; in that case it
    // returns only when the run has ended (after Stop, at the end of the cycle under way).
    void start();
    // Ends communication: the loop leaves after its current cycle, waiting input is dropped
    // and no more commands are answered.
    void stop();

    bool isCommunicating() const { return m_communicating; }
    // -1 once Stop was pressed, 0 while a run may go on.
    qint16 stopFlag() const { return m_stopFlag; }

    // The receive handler, run for each receive event of the port.
    void handleCommEvent();

    static QString startedLine() { return QStringLiteral("通信を開始しました。"); }
    static QString stoppedLine() { return QStringLiteral("通信を停止しました。"); }

private:
    void runContinuousOutput();
    void onPortLost(const QString &message);
    void retryPort();
    bool openPortIfClosed();
    void logPortProblem(const QString &line);
    bool outputTypeIsContinuous() const;

    SettingsRecords &m_records;
    SerialComm &m_port;
    CommLog &m_log;
    QTimer m_retryTimer;
    bool m_communicating = false;
    qint16 m_stopFlag = 0;
    // The last port problem written to the log: the same one is not written again until the
    // port has worked in between.
    QString m_loggedPortProblem;
};
