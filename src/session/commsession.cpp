#include "session/commsession.h"

#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/sessionclock.h"
#include "profile/responder.h"
#include "serial/serialcomm.h"
#include "settings/loadsettings.h"
#include "text/ansicodec.h"
#include "text/tokencodec.h"

#include <QCoreApplication>

#include <cmath>

CommSession::CommSession(SettingsRecords &records, SerialComm &port, CommLog &log, QObject *parent,
                         SessionClock *clock)
    : QObject(parent),
      m_records(records),
      m_port(port),
      m_log(log),
      m_clock(clock ? *clock : SessionClock::steady()),
      m_answering(log, m_clock,
                  [this](const QByteArray &bytes, QString *refusal) { return send(bytes, refusal); }),
      m_loads([this](quint64 ticket, ProfileLoadJob::Result result) {
          adoptLoadedProfile(ticket, std::move(result));
      })
{
    m_port.setClock(m_clock);
    connect(&m_port, &SerialComm::commEvent, this, &CommSession::handleCommEvent);
    connect(&m_port, &SerialComm::portLost, this, &CommSession::onPortLost);
    connect(&m_port, &SerialComm::opened, this, &CommSession::onPortOpened);
    connect(&m_port, &SerialComm::outputDropped, this, &CommSession::onOutputDropped);
    connect(&m_answering, &ProfileAnswering::answered, this, &CommSession::onProfileAnswered);
    connect(&m_answering, &ProfileAnswering::unanswered, this, &CommSession::countUnanswered);
    connect(&m_answering, &ProfileAnswering::refused, this, &CommSession::onAnswerRefused);
    // Stopped until the first Start.
    m_port.setDiscardInput(true);
}

qint64 CommSession::nextOutputDue(qint64 previousDueNs, qint64 intervalNs, qint64 nowNs)
{
    const qint64 due = previousDueNs + qMax<qint64>(intervalNs, 0);
    return due < nowNs ? nowNs + qMax<qint64>(intervalNs, 0) : due;
}

bool CommSession::outputTypeIsContinuous() const
{
    const std::optional<double> type = settingsNumber(m_records.protocol.OutputType);
    return type && *type == 0;
}

void CommSession::report(LineEvent event)
{
    event.atNs = event.atNs ? event.atNs : m_clock.nowNs();
    emit lineEvent(event);
}

void CommSession::reportPort(const QString &line)
{
    m_log.appendStamped(line);
    LineEvent event;
    event.kind = LineEvent::Kind::Port;
    event.message = line;
    report(event);
}

void CommSession::reportBytes(LineEvent::Kind kind, const QByteArray &bytes, qint64 atNs)
{
    LineEvent event;
    event.kind = kind;
    event.bytes = bytes;
    event.atNs = atNs;
    report(event);
}

void CommSession::logPortProblem(const QString &line)
{
    if (line == m_loggedPortProblem)
        return;
    m_loggedPortProblem = line;
    reportPort(line);
}

void CommSession::onPortOpened()
{
    // Whatever waited in the driver belongs to before the port was (re)opened.
    m_port.clearInBuffer();
    if (!m_loggedPortProblem.isEmpty())
        reportPort(QStringLiteral("ポートを再接続しました: ") + m_port.deviceName());
    m_loggedPortProblem.clear();
    m_loggedSendProblem.clear();
}

bool CommSession::openPortIfClosed()
{
    if (m_port.portOpen()) {
        m_port.clearInBuffer();
        return true;
    }
    if (m_port.setPortOpen(true))
        return true;
    logPortProblem(QStringLiteral("ポートを開けません: ") + m_port.lastError());
    return false;
}

// Receive events come back only while communicating and never inside a running handler:
// the handler turns them on itself when it ends.
void CommSession::answerAgain()
{
    if (m_communicating && !m_inHandler)
        m_port.setRThreshold(1);
}

void CommSession::start()
{
    if (m_communicating)
        return;
    // A stopped run still waiting for its last cycle ends here, with its stop line.
    if (m_loopRun != 0)
        finishLoopRun();
    const quint64 run = ++m_run;
    m_communicating = true;
    // A receive handler waiting beneath this Start is abandoned: the new run's continuous loop
    // may hold it for good, and the input it waits for is dropped below.
    m_inHandler = false;
    // Bytes the host sent while stopped would be counted with its first command.
    const bool portReady = openPortIfClosed();
    m_port.setDiscardInput(false);
    m_log.appendStamped(startedLine());
    beginProfile();
    LineEvent started;
    started.kind = LineEvent::Kind::Start;
    if (Profile::Responder *player = m_answering.responder()) {
        started.seed = player->seed();
        started.profile = m_profile.file();
    }
    report(started);
    answerAgain();
    if (!portReady)
        armRetry();
    m_stopFlag = 0;
    emit communicatingChanged(true);
    if (outputTypeIsContinuous())
        runContinuousOutput(run);
}

void CommSession::runContinuousOutput(quint64 run)
{
    m_loopRun = run;
    qint64 due = m_clock.nowNs();
    for (;;) {
        // Read every cycle, so the value in force at that moment counts.
        const double interval = intervalSeconds(run);
        due = nextOutputDue(due, SessionClock::spanNs(interval), m_clock.nowNs());
        m_clock.waitUntil(due);
        if (m_loopRun != run)
            return; // a later Start has ended this run
        // Settings changed after Stop may have turned continuous output off.
        if (outputTypeIsContinuous())
            sendContinuousOutput();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (m_loopRun != run)
            return;
        if (m_stopFlag == -1)
            break;
    }
    finishLoopRun();
}

// A text that is no number would run the loop without any wait and flood the line; it runs
// at one second instead, and the run says so once. A negative number still means no wait.
double CommSession::intervalSeconds(quint64 run)
{
    const QString &text = m_records.protocol.IntervalSeconds;
    const std::optional<double> seconds = settingsNumber(text);
    if (seconds && !std::isnan(*seconds))
        return *seconds;
    if (m_intervalWarnedRun != run) {
        m_intervalWarnedRun = run;
        m_log.appendStamped(LineTexts::intervalNotANumber(text));
    }
    return 1.0;
}

void CommSession::beginProfile()
{
    std::unique_ptr<Profile::Responder> responder = m_profile.makeResponder(m_records.commands);
    if (!responder) {
        m_answering.end();
        return;
    }
    prepareToPlay(*responder);
    m_answering.begin(std::move(responder));
}

// The line speed paces the answers; the log names the profile and the seed that repeats it.
void CommSession::prepareToPlay(Profile::Responder &responder)
{
    responder.setLineSpeed(m_port.baudRate(), qRound(m_port.bitsPerByte()));
    m_log.appendStamped(LineTexts::profileInForce(m_profile.file(), responder.seed()));
}

void CommSession::sendContinuousOutput()
{
    Profile::Responder *player = m_answering.responder();
    if (player && player->hasContinuous()) {
        const QByteArray text = player->continuousText();
        if (send(text))
            m_log.appendStampedBytes(text);
        return;
    }
    if (send(m_records.commands.ContinuousOutputBytes))
        logContinuousOutput();
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

void CommSession::finishLoopRun()
{
    m_loopRun = 0;
    m_log.appendStamped(stoppedLine());
}

void CommSession::stop()
{
    if (!m_communicating)
        return;
    m_communicating = false;
    m_stopFlag = -1;
    m_port.clearInBuffer();
    m_port.setRThreshold(0);
    m_port.setDiscardInput(true);
    m_answering.end();
    LineEvent stopped;
    stopped.kind = LineEvent::Kind::Stop;
    report(stopped);
    // A continuous loop of this run writes the stop line after its pending cycle.
    if (m_loopRun != m_run)
        m_log.appendStamped(stoppedLine());
    emit communicatingChanged(false);
}

void CommSession::stopAtOnce()
{
    stop();
    // The loop of a run, this one or an earlier stopped one, still owes its pending cycle and
    // stop line: it leaves without sending, and the line is written here.
    if (m_loopRun != 0)
        finishLoopRun();
    m_clock.cutWaitsShort();
}

bool CommSession::send(const QByteArray &bytes, QString *refusal)
{
    const bool drained = m_port.pendingOutput() == 0;
    if (m_port.output(bytes)) {
        if (drained)
            m_loggedSendProblem.clear();
        if (!bytes.isEmpty()) {
            m_counters.bytesOut += bytes.size();
            reportBytes(LineEvent::Kind::Sent, bytes);
        }
        return true;
    }
    if (refusal)
        *refusal = m_port.portOpen() ? m_port.lastError() : QStringLiteral("the port is closed");
    // A closed or lost port has its own line already; a refusal by an open port has none.
    if (m_port.portOpen()) {
        const QString line = QStringLiteral("送信できません: ") + m_port.lastError();
        if (line != m_loggedSendProblem) {
            m_loggedSendProblem = line;
            reportPort(line);
        }
    }
    return false;
}

void CommSession::handleCommEvent()
{
    // A profile frames and answers as the bytes come, without waiting here.
    if (m_answering.isAnswering()) {
        const qint64 atNs = m_port.lastEventArrivalNs();
        m_answering.take(receivedInput(), atNs);
        return;
    }
    // One handler at a time: the bytes that raised a nested event are the running one's.
    if (m_inHandler)
        return;
    m_inHandler = true;
    const quint64 run = m_run;
    m_port.setRThreshold(0);
    // The host's time to finish its command: one fixed second from its first byte.
    m_clock.waitUntil(m_port.lastEventArrivalNs()
                      + qint64(kReceiveWaitSeconds) * SessionClock::kNsPerSecond);
    // A Start during the wait dropped the input this handler was judging; its own handlers
    // may have run since.
    if (m_run != run)
        return;
    // A Stop during the wait dropped it too, and nothing is answered once stopped.
    if (!m_communicating) {
        m_inHandler = false;
        return;
    }

    answerWaitingInput();

    m_inHandler = false;
    // A Stop during the wait, or an event before Start, leaves answering off.
    answerAgain();
}

// What waits once the window has passed is a device command, the beginning of one still on
// its way, or input that no command can begin with: that is dropped, and the log says so,
// or the user would never learn why nothing was answered.
void CommSession::answerWaitingInput()
{
    const DeviceCommandTable &table = m_records.commands;
    const QByteArray waiting = m_port.peekInput();
    if (waiting.isEmpty())
        return;
    bool beginsCommand = false;
    for (int p = 0; p < kPatternCount; ++p) {
        const QByteArray &command = table.DeviceCommandBytes[size_t(p)];
        // A pattern without a device command is unused; it must not answer every stray event.
        if (command.isEmpty())
            continue;
        if (waiting == command) {
            receivedInput();
            const QByteArray &answer = table.OutputDataBytes[size_t(p)];
            const QString rule = QStringLiteral("pattern %1").arg(p + 1);
            QString refusal;
            if (send(answer, &refusal)) {
                m_log.appendExchange(command, answer);
                onProfileAnswered(command, answer, rule, {});
            } else {
                onAnswerRefused(command, QByteArray(), rule, {}, refusal);
            }
            return;
        }
        beginsCommand = beginsCommand || command.startsWith(waiting);
    }
    if (beginsCommand)
        return;
    const QByteArray dropped = receivedInput();
    m_log.appendStampedBytes(Ansi::encodeLossy(LineTexts::unansweredInputPrefix()) + dropped);
    countUnanswered(dropped);
}

QByteArray CommSession::receivedInput()
{
    const QByteArray bytes = m_port.input();
    m_counters.bytesIn += bytes.size();
    reportBytes(LineEvent::Kind::Received, bytes, m_port.lastEventArrivalNs());
    return bytes;
}

namespace {
LineEvent answerEvent(LineEvent::Kind kind, const QByteArray &command, const QByteArray &bytes,
                      const QString &rule, const QStringList &faults)
{
    LineEvent event;
    event.kind = kind;
    event.command = command;
    event.bytes = bytes;
    event.rule = rule;
    event.faults = faults;
    return event;
}
} // namespace

void CommSession::onProfileAnswered(const QByteArray &command, const QByteArray &bytes,
                                    const QString &rule, const QStringList &faults)
{
    ++m_counters.commandsSeen;
    const bool dropped = faults.contains(QStringLiteral("drop"));
    ++(dropped ? m_counters.dropped : m_counters.answered);
    LineEvent event = answerEvent(LineEvent::Kind::Answer, command, bytes, rule, faults);
    report(event);
    if (!faults.isEmpty()) {
        event.kind = LineEvent::Kind::Fault;
        event.bytes.clear();
        report(event);
    }
}

void CommSession::onAnswerRefused(const QByteArray &command, const QByteArray &bytes,
                                  const QString &rule, const QStringList &faults,
                                  const QString &reason)
{
    ++m_counters.commandsSeen;
    ++m_counters.refused;
    LineEvent event = answerEvent(LineEvent::Kind::Refused, command, bytes, rule, faults);
    event.message = reason;
    report(event);
}

void CommSession::countUnanswered(const QByteArray &bytes, const QString &budgetRule)
{
    ++m_counters.commandsSeen;
    ++m_counters.dropped;
    LineEvent event;
    event.kind = LineEvent::Kind::Unanswered;
    event.bytes = bytes;
    event.rule = budgetRule;
    report(event);
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
            m_answering.switchTo(std::move(result.responder));
        }
        report(loaded);
    }
    emit profileSwitched(ticket, result.ok ? QString() : result.problems);
}

bool CommSession::sendNow(const QByteArray &bytes)
{
    if (!send(bytes))
        return false;
    m_log.appendStampedBytes(bytes);
    return true;
}

void CommSession::onOutputDropped(qint64 bytes, const QString &device)
{
    m_log.appendStamped(LineTexts::droppedOutput(bytes, device));
    LineEvent event;
    event.kind = LineEvent::Kind::DroppedOutput;
    event.count = bytes;
    event.message = device;
    report(event);
}

void CommSession::onPortLost(const QString &message)
{
    logPortProblem(QStringLiteral("ポートが切断されました: ") + message);
    if (m_communicating)
        armRetry();
}

void CommSession::armRetry()
{
    if (m_retryArmed)
        return;
    m_retryArmed = true;
    m_clock.callAfter(kPortRetryMs, this, [this] {
        m_retryArmed = false;
        retryPort();
    });
}

void CommSession::retryPort()
{
    if (!m_communicating || m_port.portOpen())
        return;
    if (m_port.setPortOpen(true))
        answerAgain();
    else
        armRetry();
}
