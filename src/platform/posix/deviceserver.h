#pragma once

#include "platform/wakepipe.h"
#include "preload/deviceprotocol.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Answers the preload library of a host program over a Unix socket, on a thread of its own,
// so that a host's ioctl never waits for the program's main thread. It holds what a serial
// device would: the termios the host set, the host's DTR and RTS, the lines the host sees
// and the counts of their changes, a break in progress. What the host changes is told
// through the callbacks, on the server's thread.
class DeviceServer
{
public:
    struct Callbacks
    {
        std::function<void(const kalo_line_settings &)> settingsChanged;
        std::function<void(bool dtr, bool rts)> linesChanged;
        std::function<void(int ms)> breakSent;
    };

    DeviceServer() = default;
    DeviceServer(const DeviceServer &) = delete;
    DeviceServer &operator=(const DeviceServer &) = delete;
    ~DeviceServer() { stop(); }

    // Listens at socketPath (mode 0600) and starts serving, with the settings of the line
    // before the host sets any and the lines it sees first. False with the reason.
    bool start(const QString &socketPath, const kalo_line_settings &initial, uint32_t seenLines,
               Callbacks callbacks, QString *error);
    void stop();

    // TIOCM_CTS, TIOCM_DSR, TIOCM_CD and TIOCM_RI as the host should see them.
    void setSeenLines(uint32_t lines);
    kalo_line_settings settings() const;

private:
    struct Client
    {
        int fd = -1;
        kalo_device_request request {};
        size_t got = 0;
        bool waiting = false; // on TIOCMIWAIT, with the counts when it began
        uint32_t waitMask = 0;
        uint32_t countsAtWait[KALO_COUNTS] {};
    };

    void serve();
    void acceptClients();
    // False when the client is done with: answered, or gone.
    bool readFrom(Client &client);
    // False when the reply is held back until the lines change.
    bool handle(Client &client, kalo_device_reply &reply);
    bool waitIsOver(const Client &client) const;
    void reply(Client &client, kalo_device_reply &reply);
    void setHostLines(uint32_t lines);

    int m_listener = -1;
    QString m_path;
    WakePipe m_wake;
    std::thread m_thread;
    bool m_stopping = false; // under m_state
    std::vector<Client> m_clients; // the server thread's alone
    Callbacks m_callbacks;

    mutable std::mutex m_state;
    bool m_hasTermios = false;
    kalo_termios m_termios {};
    kalo_line_settings m_settings {};
    uint32_t m_hostLines = 0; // TIOCM_DTR | TIOCM_RTS
    uint32_t m_seenLines = 0;
    uint32_t m_counts[KALO_COUNTS] {};
    int64_t m_breakSinceNs = -1;
};
