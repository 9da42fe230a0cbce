#include "session/commsession.h"

#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/sessionclock.h"
#include "profile/responder.h"
#include "serial/serialcomm.h"
#include "settings/loadsettings.h"
#include "text/tokencodec.h"

#include <algorithm>
#include <memory>

CommSession::CommSession(SettingsRecords &records, SerialComm &port, CommLog &log, QObject *parent,
                         SessionClock *clock)
    : QObject(parent),
      m_records(records),
      m_port(port),
      m_log(log),
      m_clock(clock ? *clock : SessionClock::steady()),
      m_supervisor(port, m_clock),
      m_account(m_clock, log),
      m_flow(port, m_account),
      m_line(m_clock, [this](const QByteArray &bytes, QString *refusal) { return write(bytes, refusal); }),
      m_answering(log, m_clock, m_line),
      m_continuous(
              m_clock, [this] { return continuousInterval(); }, [this] { sendContinuousOutput(); },
              [this] { return m_answering.openWindowEndNs(); }),
      m_loads([this](quint64 ticket, ProfileLoadJob::Result result) {
          adoptLoadedProfile(ticket, std::move(result));
      })
{
    m_port.setClock(m_clock);
    connect(&m_port, &SerialComm::commEvent, this, &CommSession::onCommEvent);
    connect(&m_port, &SerialComm::portLost, this, &CommSession::onPortLost);
    connect(&m_supervisor, &PortSupervisor::said, &m_account, &LineAccount::portLine);
    connect(&m_supervisor, &PortSupervisor::reopened, this, [this] { m_port.setRThreshold(1); });
    connect(&m_port, &SerialComm::outputDropped, &m_account, &LineAccount::droppedOutput);
    connect(&m_port, &SerialComm::lineCompared, &m_account, &LineAccount::lineCompared);
    connect(&m_account, &LineAccount::lineEvent, this, &CommSession::lineEvent);
    connect(&m_answering, &ProfileAnswering::answered, &m_account, &LineAccount::answered);
    connect(&m_answering, &ProfileAnswering::unanswered, &m_account, &LineAccount::unanswered);
    connect(&m_answering, &ProfileAnswering::refused, &m_account, &LineAccount::refused);
    connect(&m_answering, &ProfileAnswering::scriptError, &m_account, &LineAccount::scriptError);
    connect(&m_answering, &ProfileAnswering::continuousSwitched, this, &CommSession::switchContinuous);
    connect(&m_answering, &ProfileAnswering::linesSwitched, this,
            [this](const ModemLinesChange &change) { setInstrumentLines(change.appliedTo(m_lines)); });
    connect(&m_answering, &ProfileAnswering::windowClosed, &m_continuous,
            &ContinuousOutput::windowClosed);
    connect(&m_continuous, &ContinuousOutput::ended, this,
            [this] { m_log.appendStamped(stoppedLine()); });
    connect(&m_continuous, &ContinuousOutput::intervalNotANumber, this, [this] {
        m_log.appendStamped(LineTexts::intervalNotANumber(m_records.protocol.IntervalSeconds));
    });
    connect(&m_answering, &ProfileAnswering::overrun, &m_account, &LineAccount::overrun);
    connect(&m_answering, &ProfileAnswering::receiveBufferCrossed, &m_flow,
            &InstrumentFlow::receiveBufferCrossed);
    connect(&m_flow, &InstrumentFlow::linesHeld, this,
            [this] { emit instrumentLinesChanged(m_flow.seenByHost(m_lines)); });
    m_answering.setLateInput([this](qint64 latestNs) { return takeLateInput(latestNs); });
    // Stopped until the first Start.
    m_port.setDiscardInput(true);
}

Profile::Responder *CommSession::responder() const
{
    return m_playsProfile ? m_answering.responder() : nullptr;
}

void CommSession::start()
{
    if (m_communicating)
        return;
    // A stopped run still waiting for its last cycle ends here, with its stop line.
    if (m_continuous.endNow())
        m_log.appendStamped(stoppedLine());
    m_communicating = true;
    // Bytes the host sent while stopped would be counted with its first command.
    m_supervisor.ensureOpen();
    m_port.setDiscardInput(false);
    m_log.appendStamped(startedLine());
    beginAnswering();
    LineEvent started;
    started.kind = LineEvent::Kind::Start;
    if (Profile::Responder *player = responder()) {
        started.seed = player->seed();
        started.profile = m_profile.file();
    }
    m_account.report(started);
    m_port.setRThreshold(1);
    m_supervisor.setRetrying(true);
    m_stopFlag = 0;
    emit communicatingChanged(true);
    if (continuousWanted())
        m_continuous.begin();
}

const Profile::Continuous *CommSession::profileContinuous() const
{
    const Profile::Responder *player = responder();
    return player && player->instrument().continuous ? &*player->instrument().continuous : nullptr;
}

bool CommSession::continuousWanted() const
{
    if (profileContinuous())
        return m_profileContinuousOn;
    return isContinuousOutput(m_records.protocol);
}

std::optional<double> CommSession::continuousInterval() const
{
    const Profile::Continuous *continuous = profileContinuous();
    if (continuous && continuous->intervalSeconds)
        return continuous->intervalSeconds;
    return intervalSeconds(m_records.protocol);
}

void CommSession::switchContinuous(bool on)
{
    if (!profileContinuous())
        return;
    m_profileContinuousOn = on;
    emit outputTypeChanged();
    if (!m_communicating)
        return;
    if (on && !m_continuous.isRunning())
        m_continuous.begin();
    else if (!on)
        m_continuous.endNow();
}

void CommSession::applyProfileLine(const QString &line)
{
    if (line.isEmpty())
        return;
    m_lineFromProfile = true;
    m_log.appendStamped(LineTexts::profileLine(line));
    if (m_port.setSettings(line))
        return;
    // A pseudo-terminal takes 8N1 only: the speed and the stop bits stay the profile's.
    const QStringList fields = line.split(QLatin1Char(','));
    const QString carried = QStringLiteral("%1,N,8,%2").arg(fields.value(0), fields.value(3));
    if (m_port.setSettings(carried))
        m_log.appendStamped(LineTexts::lineCarriedAs(line, carried));
    else
        m_log.appendStamped(m_port.lastError());
}

QString CommSession::outputTypeInForce() const
{
    const Profile::Continuous *continuous = m_communicating ? profileContinuous() : nullptr;
    if (!continuous || !continuous->enabled)
        return m_records.protocol.OutputType;
    return m_profileContinuousOn ? QStringLiteral("0") : QStringLiteral("1");
}

QString CommSession::lineInForce() const
{
    return m_lineFromProfile ? m_port.settings() : m_records.CommSettingsString;
}


void CommSession::restoreSettingsLine()
{
    m_port.setPaced(true);
    if (!m_lineFromProfile)
        return;
    m_lineFromProfile = false;
    m_port.setSettings(m_records.CommSettingsString.isEmpty()
                               ? QString::fromLatin1(SerialComm::kDefaultSettings)
                               : m_records.CommSettingsString);
}

void CommSession::beginAnswering()
{
    std::unique_ptr<Profile::Responder> responder = m_profile.makeResponder(m_records.commands);
    m_playsProfile = m_profile.inForce();
    if (m_playsProfile) {
        prepareToPlay(*responder);
    } else {
        restoreSettingsLine();
        m_flow.setFlow(LineFlow::None);
        setInstrumentLines(ModemLines());
    }
    m_answering.begin(std::move(responder));
    m_answering.reportScriptProblems();
}

// The line speed paces the answers; the log names the profile and the seed that repeats it.
void CommSession::prepareToPlay(Profile::Responder &responder)
{
    m_log.appendStamped(LineTexts::profileInForce(m_profile.file(), responder.seed()));
    const Profile::Instrument &instrument = responder.instrument();
    if (instrument.line.isEmpty())
        restoreSettingsLine();
    else
        applyProfileLine(instrument.line);
    m_port.setPaced(instrument.linePaced);
    m_flow.setFlow(instrument.flow);
    setInstrumentLines(instrument.lines);
    responder.setHostLines(m_hostDtr, m_hostRts);
    responder.setLineSpeed(m_port.baudRate(), qRound(m_port.bitsPerByte()));
    if (instrument.continuous) {
        m_profileContinuousOn = instrument.continuous->enabled.value_or(isContinuousOutput(m_records.protocol));
        m_continuous.setAlignedToSecond(instrument.continuous->alignSecond);
    } else {
        m_continuous.setAlignedToSecond(false);
    }
}

void CommSession::setInstrumentLines(const ModemLines &lines)
{
    if (lines == m_lines)
        return;
    m_lines = lines;
    emit instrumentLinesChanged(m_flow.seenByHost(m_lines));
}

void CommSession::hostLinesChanged(bool dtr, bool rts)
{
    m_hostDtr = dtr;
    m_hostRts = rts;
    m_account.hostLines(dtr, rts);
    m_flow.hostLinesChanged(rts);
    if (Profile::Responder *player = responder())
        player->setHostLines(dtr, rts);
}

void CommSession::breakFromHost(int ms)
{
    m_account.hostBreak(ms);
    if (m_communicating && m_answering.isAnswering())
        m_answering.takeBreak(m_clock.nowNs());
}

void CommSession::stop()
{
    if (!m_communicating)
        return;
    m_communicating = false;
    m_stopFlag = -1;
    m_supervisor.setRetrying(false);
    // A cycle that waited for the window under way still waits until the window would have
    // closed.
    const std::optional<qint64> window = m_answering.openWindowEndNs();
    m_port.clearInBuffer();
    m_port.setRThreshold(0);
    m_port.setDiscardInput(true);
    m_answering.end();
    restoreSettingsLine();
    LineEvent stopped;
    stopped.kind = LineEvent::Kind::Stop;
    m_account.report(stopped);
    // A continuous run writes the stop line after its pending cycle.
    if (m_continuous.isRunning())
        m_continuous.finishAfterPendingCycle(window.value_or(0));
    else
        m_log.appendStamped(stoppedLine());
    emit communicatingChanged(false);
}

void CommSession::stopAtOnce()
{
    stop();
    if (m_continuous.endNow())
        m_log.appendStamped(stoppedLine());
}

void CommSession::onCommEvent()
{
    // Events before Start, or after Stop, answer nothing.
    if (!m_communicating || !m_answering.isAnswering())
        return;
    const QByteArray bytes = m_port.input();
    // Taken already as late input.
    if (bytes.isEmpty())
        return;
    const qint64 atNs = m_port.lastEventArrivalNs();
    m_account.received(bytes, atNs);
    m_answering.take(bytes, atNs);
}

bool CommSession::takeLateInput(qint64 latestNs)
{
    if (!m_communicating || !m_answering.isAnswering())
        return false;
    if (m_port.fetchWaitingInput()) {
        const QByteArray bytes = m_port.input();
        const qint64 atNs = std::min(m_clock.nowNs(), latestNs);
        m_account.received(bytes, atNs);
        m_answering.take(bytes, atNs);
    }
    return m_port.inputOnItsWay();
}

void CommSession::sendContinuousOutput()
{
    // Settings changed after Stop may have turned continuous output off.
    if (!continuousWanted())
        return;
    OutputLine::Item item;
    item.dueNs = m_clock.nowNs();
    item.emptyNeedsPort = true;
    Profile::Responder *player = responder();
    if (player && player->hasContinuous()) {
        item.bytes = player->continuousText();
        m_answering.reportScriptProblems();
        item.done = [this](const QByteArray &sent, const QString &refusal) {
            if (refusal.isEmpty())
                m_log.appendStampedBytes(sent);
        };
    } else {
        item.bytes = m_records.commands.ContinuousOutputBytes;
        item.done = [this](const QByteArray &, const QString &refusal) {
            if (refusal.isEmpty())
                logContinuousOutput();
        };
    }
    m_line.enqueue(std::move(item));
}

// The log shows the text as typed, unless the bytes in force are not that text's: then what
// was sent.
void CommSession::logContinuousOutput()
{
    const QString &text = m_records.protocol.ContinuousOutputText;
    const QByteArray &bytes = m_records.commands.ContinuousOutputBytes;
    if (mdlSUCMD::ConvertTokenText(text) == bytes)
        m_log.appendStamped(text);
    else
        m_log.appendStampedBytes(bytes);
}

bool CommSession::write(const QByteArray &bytes, QString *refusal)
{
    const bool drained = m_port.pendingOutput() == 0;
    if (m_port.output(bytes)) {
        m_supervisor.sendWent(drained);
        m_account.sent(bytes);
        return true;
    }
    *refusal = m_port.portOpen() ? m_port.lastError() : QStringLiteral("the port is closed");
    // A closed or lost port has its own line already; a refusal by an open port has none.
    if (m_port.portOpen())
        m_supervisor.sendRefused();
    return false;
}

bool CommSession::sendNow(const QByteArray &bytes)
{
    // Known at once unless the bytes wait behind an answer on the wire.
    auto refused = std::make_shared<bool>(false);
    OutputLine::Item item;
    item.bytes = bytes;
    item.dueNs = m_clock.nowNs();
    item.done = [this, refused](const QByteArray &sent, const QString &refusal) {
        *refused = !refusal.isEmpty();
        if (!*refused)
            m_log.appendStampedBytes(sent);
    };
    m_line.enqueue(std::move(item));
    return !*refused;
}

bool CommSession::sendBreak(int ms)
{
    if (!m_port.sendBreak(ms))
        return false;
    m_account.breakSent(ms);
    return true;
}

quint64 CommSession::switchProfileLater(const QString &file)
{
    return m_loads.request(file, m_profile.seed(), m_records.commands);
}

void CommSession::adoptLoadedProfile(quint64 ticket, ProfileLoadJob::Result result)
{
    if (result.ok) {
        m_retirement.retire(std::make_unique<InstrumentProfile>(std::move(m_profile)));
        m_profile = std::move(result.profile);
        LineEvent loaded;
        loaded.kind = LineEvent::Kind::Load;
        loaded.profile = m_profile.file();
        // Stopped, the next Start makes its responder with a seed of its own.
        if (m_communicating && result.responder) {
            prepareToPlay(*result.responder);
            loaded.seed = result.responder->seed();
            m_playsProfile = true;
            m_answering.switchTo(std::move(result.responder));
        }
        m_account.report(loaded);
    }
    emit profileSwitched(ticket, result.ok ? QString() : result.problems);
}

void CommSession::onPortLost()
{
    m_answering.dropUnfinished();
}

