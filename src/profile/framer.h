#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <limits>
#include <memory>
#include <vector>

namespace Profile {

// How the bytes from the host are cut into commands: the [framing] table of a profile.
struct Framing
{
    enum class Mode {
        Window, // the engine's rule without a profile: what waits a window after a first byte
        Terminator, // a command ends with the terminator bytes
        Gap, // silence ends a command
        Length, // every command is the same number of bytes
        Rules, // a command ends as soon as the rules say it is whole and cannot grow
        ModbusRtu, // a request ends with the bytes its function code implies (modbus/rtuframer.h)
    };
    static constexpr qint64 kOneSecondNs = 1'000'000'000;

    Mode mode = Mode::Window;
    qint64 windowNs = kOneSecondNs;
    QByteArray terminator;
    int length = 0;
    // Gap and Rules: the silence that ends a command. Terminator and Length: the silence
    // after which an unfinished command is dropped, so one lost byte does not shift every
    // later frame; 0 never drops.
    qint64 gapNs = 0;
    // A command longer than this, terminator included, is dropped with the rest of it up to
    // its end (the terminator, the silence, the window's end), however the reads fall: a
    // host flooding the line without terminator or silence cannot grow memory.
    int maxBytes = 4096;
    // Window: what waits when the window ends is handed out only when it equals one of the
    // exact commands; the dialog's fixed instrument frames so. A profile's window hands out
    // every length some rule can match and lets the rules judge.
    bool windowExact = false;
};

// One command as the host sent it.
struct Frame
{
    QByteArray bytes;
    qint64 firstByteNs = 0;
    // When the instrument can know the command is whole: the terminator's or last byte's
    // arrival, the end of the silence, the end of the window. An answer's delay counts from
    // here.
    qint64 completeNs = 0;
    // A break from the host, not bytes: answered by the rules for a break.
    bool isBreak = false;
};

// What the window framing hands out when its window ends: the byte counts some rule can
// match (the exact commands' lengths), or every count when a regex rule exists.
struct WindowLengths
{
    std::vector<int> lengths;
    bool any = false;
    // The exact commands: what begins one of them may still be on its way and waits for the
    // next window; anything else is dropped.
    std::vector<QByteArray> commands;
};

// What the rules framing (Framing::Mode::Rules) asks after each byte about the bytes waiting.
// Whole: they are handed out at once, complete at that byte's arrival. Longer: they wait for
// more; gap_ms of silence hands them out as they are, for the rules to judge, so a whole
// command that begins a longer one waits for the silence. Neither, where the bytes before
// could still grow: those are handed out as they are (a command a lost byte cut short is thus
// logged once as unanswered), and the byte is asked about again as the start of the next
// command. A byte that cannot begin any command starts noise: it and the bytes after it that
// cannot begin one either are dropped together, once, when a byte that can begin one arrives
// or the silence comes, so noise never takes the command after it. A command still able to
// grow beyond max_bytes is dropped with the rest up to the silence; noise goes in pieces of
// max_bytes.
//
// Made by the rule matcher (RuleMatcher::commandReach()), so framers know no rule themselves.
class CommandReach
{
public:
    enum class Reach {
        // Some rule could take a longer command that begins with these bytes; also said when
        // the rules cannot tell in the steps they may spend, so that silence ends it.
        Longer,
        // They are a whole command of some rule, and no rule could take a longer one.
        Whole,
        // No rule takes them, nor anything longer that begins with them.
        Neither,
    };
    virtual ~CommandReach() = default;

    // A new command begins.
    virtual void restart() = 0;
    // The command so far: one byte longer than at the previous call since restart().
    virtual Reach extend(QByteArrayView command) = 0;
};

// Cuts received bytes into frames. The engine feeds it each read with its arrival time on
// the session clock, and when deadlineNs() is not kNoDeadline arms one timer for it and calls
// expire() then: the gap and window framings end frames on time alone. Framers never wait
// and never read a clock, so virtual time drives them as well as the real one.
class Framer
{
public:
    static constexpr qint64 kNoDeadline = std::numeric_limits<qint64>::max();

    // reach: the rules framing's view of the rules; without one it ends commands by silence
    // alone.
    static std::unique_ptr<Framer> create(const Framing &framing, const WindowLengths &lengths,
                                          std::unique_ptr<CommandReach> reach = nullptr);
    virtual ~Framer() = default;

    // The frames completed up to atNs, oldest first: those whose time ran out before the
    // bytes arrived (the engine's timer may fire late), then those the bytes complete.
    std::vector<Frame> feed(const QByteArray &bytes, qint64 atNs);
    // The frames completed by time alone up to nowNs.
    std::vector<Frame> expire(qint64 nowNs);
    qint64 deadlineNs() const { return m_deadlineNs; }
    // The deadline is a silence on the line (not a window of fixed length): bytes still on
    // their way when it comes mean it has not come.
    virtual bool deadlineIsSilence() const { return true; }
    // Drops an unfinished command (Start, Stop).
    void clear();
    // Hands the unfinished command's bytes over (to the framer of a profile that takes over)
    // and forgets them without counting them as dropped.
    QByteArray takeUnfinished();

    qsizetype pendingBytes() const { return m_buffer.size(); }
    // All bytes dropped so far: flood beyond maxBytes, stale or unmatched remainders.
    qint64 discardedBytes() const { return m_discarded; }
    // The bytes dropped since the last call, so the engine can say what went unanswered. An
    // over-long command comes out once, whole, when its end has arrived.
    QByteArray takeDropped();

protected:
    // staleNs: the silence after which an unfinished command is dropped; 0 never drops.
    explicit Framer(int maxBytes, qint64 staleNs = 0)
        : m_maxBytes(maxBytes)
        , m_staleNs(staleNs)
    { }

    virtual void take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out) = 0;
    // Called once the deadline has passed; it is cleared before. Unless a framing ends
    // frames on time, what waits then has gone stale and is dropped.
    virtual void timeUp(std::vector<Frame> *) { discard(); }

    void append(const QByteArray &bytes, qint64 atNs);
    void handOut(qsizetype length, qint64 completeNs, std::vector<Frame> *out);
    // Drops what waits, or its first length bytes; either ends an over-long command.
    void discard();
    void dropFront(qsizetype length);
    // What waits is already longer than a command may be: drops it but its last keep bytes
    // (the start of a terminator), and keeps dropping until the command's end.
    void skipOverLong(qsizetype keep = 0);
    bool skipping() const { return m_skipping; }
    int maxBytes() const { return m_maxBytes; }
    // After a read at atNs: the deadline at which what waits goes stale.
    void armStaleDeadline(qint64 atNs);

    QByteArray m_buffer;
    qint64 m_firstByteNs = 0;
    qint64 m_deadlineNs = kNoDeadline;

private:
    int m_maxBytes;
    qint64 m_staleNs;
    qint64 m_discarded = 0;
    QByteArray m_dropped;
    bool m_skipping = false;
};

} // namespace Profile
