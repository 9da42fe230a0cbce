#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT, SIGTERM, SIGHUP and SIGQUIT as a Qt signal. The handler only writes a byte into a
// pipe; the event loop reads it, also the nested loops a communication run waits in, so a
// stop asked for from outside is handled like the stop button. SIGUSR1 and SIGUSR2 mean
// nothing to the program and are ignored: a stray one must not end a run unsaved.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // Installs the handlers; false with the system's reason in error.
    bool install(QString *error);

signals:
    void stopRequested();

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};
