// Windows: a com0com pair of ports has the lines of a serial device already; the host opens
// its end by name, and nothing needs to stand in for it.

#include "platform/hostdevice.h"

#include "platform/descriptorlimit.h"
#include "platform/posix/deviceserver.h"
#include "platform/posix/devicetree.h"
#include "platform/posix/ttydefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/ioctl.h>

namespace {
// The library's file, and where it is installed, from the folder of the executable: the
// build tree puts both in one folder.
const char kLibraryName[] = "libkalo_rs232c_device.so";

QString findLibrary()
{
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString &folder : { here, QDir(here).filePath(QStringLiteral(KALO_DEVICE_LIBRARY_DIR)) }) {
        const QString path = QDir(folder).absoluteFilePath(QLatin1String(kLibraryName));
        if (QFileInfo(path).isFile())
            return QDir::cleanPath(path);
    }
    return QString();
}

HostLineSettings fromWire(const kalo_line_settings &wire)
{
    HostLineSettings s;
    s.baud = wire.baud;
    s.dataBits = wire.data_bits;
    s.parity = char(wire.parity);
    s.stopHalfBits = wire.stop_half_bits;
    s.ignpar = wire.flags & KALO_IGNPAR;
    s.parmrk = wire.flags & KALO_PARMRK;
    s.inpck = wire.flags & KALO_INPCK;
    s.istrip = wire.flags & KALO_ISTRIP;
    s.ignbrk = wire.flags & KALO_IGNBRK;
    s.ixon = wire.flags & KALO_IXON;
    s.ixoff = wire.flags & KALO_IXOFF;
    s.crtscts = wire.flags & KALO_CRTSCTS;
    return s;
}
} // namespace

bool HostLineSettings::operator==(const HostLineSettings &o) const
{
    return baud == o.baud && dataBits == o.dataBits && parity == o.parity
            && stopHalfBits == o.stopHalfBits && ignpar == o.ignpar && parmrk == o.parmrk
            && inpck == o.inpck && istrip == o.istrip && ignbrk == o.ignbrk && ixon == o.ixon
            && ixoff == o.ixoff && crtscts == o.crtscts;
}

// A powered instrument behind a null-modem cable: its RTS and DTR are up.
HostDevice::HostDevice(QObject *parent)
    : QObject(parent), m_seenLines(TIOCM_CTS | TIOCM_DSR | TIOCM_CD)
{
    m_kill.setSingleShot(true);
    connect(&m_kill, &QTimer::timeout, this, [this] {
        if (isRunning())
            m_process->kill();
    });
}

HostDevice::~HostDevice()
{
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished(kGraceMs);
    }
    delete m_process;
    m_server.reset();
}

bool HostDevice::start(const QString &hostEndPath, const QString &deviceName,
                       const QStringList &command, QString *error)
{
    const QString library = findLibrary();
    if (library.isEmpty()) {
        *error = QStringLiteral("%1 is neither beside the program nor in %2")
                         .arg(QLatin1String(kLibraryName), QStringLiteral(KALO_DEVICE_LIBRARY_DIR));
        return false;
    }
    // Private to this user from the start (mkdtemp), so no one else reaches the socket.
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kalo_rs232c-XXXXXX"));
    if (!m_dir->isValid()) {
        *error = QStringLiteral("no folder for the device: %1").arg(m_dir->errorString());
        return false;
    }
    const QString sysfs = m_dir->filePath(QStringLiteral("sys"));
    const QString socketPath = m_dir->filePath(QStringLiteral("device.sock"));
    if (!DeviceTree::make(sysfs, QFileInfo(deviceName).fileName(), error)
        || !TtyDefaults::apply(hostEndPath, error))
        return false;
    kalo_line_settings initial {};
    initial.baud = TtyDefaults::kBaud;
    initial.data_bits = 8;
    initial.parity = 'N';
    initial.stop_half_bits = 2;
    DeviceServer::Callbacks callbacks;
    // Told on the server's thread; the receivers live on this object's.
    callbacks.settingsChanged = [this](const kalo_line_settings &wire) {
        const HostLineSettings settings = fromWire(wire);
        QMetaObject::invokeMethod(this, [this, settings] { emit hostSettingsChanged(settings); },
                                  Qt::QueuedConnection);
    };
    callbacks.linesChanged = [this](bool dtr, bool rts) {
        QMetaObject::invokeMethod(this, [this, dtr, rts] { emit hostLinesChanged(dtr, rts); },
                                  Qt::QueuedConnection);
    };
    callbacks.breakSent = [this](int ms) {
        QMetaObject::invokeMethod(this, [this, ms] { emit breakFromHost(ms); }, Qt::QueuedConnection);
    };
    m_server = std::make_unique<DeviceServer>();
    if (!m_server->start(socketPath, initial, m_seenLines, std::move(callbacks), error))
        return false;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString preload = env.value(QStringLiteral("LD_PRELOAD"));
    env.insert(QStringLiteral("LD_PRELOAD"),
               preload.isEmpty() ? library : preload + QLatin1Char(':') + library);
    env.insert(QStringLiteral(KALO_DEVICE_ENV_NAME), deviceName);
    env.insert(QStringLiteral(KALO_DEVICE_ENV_TARGET), hostEndPath);
    env.insert(QStringLiteral(KALO_DEVICE_ENV_SOCKET), socketPath);
    env.insert(QStringLiteral(KALO_DEVICE_ENV_SYSFS), sysfs);
    m_process = new QProcess(this);
    m_process->setProcessEnvironment(env);
    m_process->setProgram(command.first());
    m_process->setArguments(command.mid(1));
    // The host talks to the user as if started from the shell.
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->setInputChannelMode(QProcess::ForwardedInputChannel);
    m_process->setChildProcessModifier([] { DescriptorLimit::restoreInChild(); });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        m_kill.stop();
        emit finished(status == QProcess::CrashExit ? 128 + code : code);
    });
    m_process->start();
    if (!m_process->waitForStarted(-1)) {
        *error = QStringLiteral("%1: cannot be started: %2")
                         .arg(command.first(), m_process->errorString());
        return false;
    }
    return true;
}

bool HostDevice::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

void HostDevice::setLinesSeenByHost(bool cts, bool dsr, bool dcd, bool ri)
{
    m_seenLines = (cts ? TIOCM_CTS : 0) | (dsr ? TIOCM_DSR : 0) | (dcd ? TIOCM_CD : 0)
            | (ri ? TIOCM_RI : 0);
    if (m_server)
        m_server->setSeenLines(m_seenLines);
}

HostLineSettings HostDevice::hostSettings() const
{
    return m_server ? fromWire(m_server->settings()) : HostLineSettings();
}

void HostDevice::terminate()
{
    if (!isRunning() || m_kill.isActive())
        return;
    m_process->terminate();
    m_kill.start(kGraceMs);
}
