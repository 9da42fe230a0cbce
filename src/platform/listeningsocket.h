#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// A listening Unix-domain socket whose connections are accepted here. QLocalServer closes
// its listener for good on the first accept that fails, and running out of descriptors
// (EMFILE, ENFILE) is such a failure: the socket would vanish for the rest of the run. Here
// the listener stays. A descriptor is kept spare, so that a client that comes when none is
// left can still be accepted, told why in one line and let go; only when even the spare
// cannot be had again does accepting pause for a moment.
class ListeningSocket : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPauseMs = 100;

    explicit ListeningSocket(QObject *parent = nullptr);
    ~ListeningSocket() override;

    // Takes the descriptor of a socket listening at path; close() removes the path.
    void take(int fd, const QString &path);
    // Stops listening and removes the socket's path.
    void close();
    // The line (with its newline) a client gets when no descriptor was left for it.
    void setRefusal(const QByteArray &line) { m_refusal = line; }

    // Writes line to a connected descriptor that is being let go, and closes it.
    static void refuse(int fd, const QByteArray &line);

signals:
    // A connected socket, non-blocking and close-on-exec; the receiver owns it.
    void accepted(int fd);
    // A client came when the process had no descriptor left for it (reason: the system's).
    void outOfDescriptors(const QString &reason);

private:
    void acceptPending();
    int refuseWithSpare();
    void resume();

    int m_fd = -1;
    int m_spare = -1;
    QString m_path;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_pause;
    QByteArray m_refusal;
};
