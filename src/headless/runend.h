#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class Station;

// What both runs without windows keep around their own work: a stop of their own after the
// duration asked for, the default line settings of a folder that has none, and at the end
// the whole log saved as ﾛｸﾞ保存 saves it, under the first free name of the day in LogData.
class RunEnd : public QObject
{
    Q_OBJECT

public:
    explicit RunEnd(Station &station, QObject *parent = nullptr);

    // Before begin(): stopDue() after this many seconds of the run.
    void setDuration(double seconds) { m_durationSeconds = seconds; }

    // Before the settings are loaded. A folder without settings starts on the default line
    // settings, so the port is tried with them before anything is written. True when the
    // folder has none.
    bool takeDefaultsIfFirstStart();
    // On a first start, once the port has opened: writes the defaults and loads them, so a
    // failed start leaves the folder as it was. False with the reason.
    bool writeFirstStartDefaults(bool profileInForce, QString *error);

    // The run begins and its duration starts counting. False when a stop came first: the run
    // then never begins.
    bool begin();
    // True for the first stop request, from outside or stopDue(); later ones are the same
    // stop. The duration no longer counts.
    bool takeStop();
    bool stopTaken() const { return m_stopTaken; }

    // The log's absolute path once saved, or empty with the reason in *problem.
    QString saveLog(QString *problem) const;

signals:
    // The duration has passed: the run asks itself to stop.
    void stopDue();

private:
    Station &m_station;
    QTimer m_durationTimer;
    std::optional<double> m_durationSeconds;
    bool m_stopTaken = false;
};
