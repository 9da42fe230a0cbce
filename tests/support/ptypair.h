#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;

// A pseudo-terminal pair standing in for a null-modem cable: the program opens the slave
// by its path, the test plays the host on the master.
class PtyPair : public QObject
{
    Q_OBJECT

public:
    struct Arrival
    {
        qint64 ms; // since collecting started
        QByteArray bytes;
    };

    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair(PtyPair &&) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    // The device's end, held open by the pair; -1 once the cable is pulled.
    int slaveFd() const { return m_slave; }

    // Host side: writes all bytes.
    bool write(const QByteArray &bytes);
    // Host side: reads what arrives within timeoutMs (stops early once `want` bytes are in).
    QByteArray read(int timeoutMs, int want = -1);
    // Host side: what has arrived by now, without waiting.
    QByteArray readAvailable();
    // Collects what the program sends while the test's event loop runs (inside a click that
    // waits, for instance), with the time of arrival.
    void startCollecting();
    QByteArray collected() const;
    const QList<Arrival> &arrivals() const { return m_arrivals; }
    qint64 sinceCollectingStarted() const { return m_clock.elapsed(); }
    // Processes events until `want` bytes were collected or timeoutMs passed.
    QByteArray waitCollected(int want, int timeoutMs);

    // Closes the host side, as if the cable were pulled out.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the slave does not hang up before the program opens it
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QElapsedTimer m_clock;
    QList<Arrival> m_arrivals;
};
