#pragma once

#include <QString>
#include <QStringList>

// The program's own log lines about what happened on the line, beyond those of the
// instrument's original tool. Tests and the documentation name them; keep the wording stable.
namespace LineTexts {
// Output handed to the port that never reached the device: the port closed before its queue
// drained, or the device went away with it. Followed by the byte count and the device.
inline QString droppedOutput(qint64 bytes, const QString &device)
{
    return QStringLiteral("未送信のまま破棄しました: %1 バイト (%2)").arg(bytes).arg(device);
}
inline QString droppedOutputPrefix() { return QStringLiteral("未送信のまま破棄しました: "); }
// A file of the run (the events, a recorded profile) that could not be written to its end;
// "path: reason" follows.
inline QString fileNotWritten(const QString &problem)
{
    return QStringLiteral("書き込めませんでした: ") + problem;
}
// Input that is no device command, nor the beginning of one, once its window has passed.
// The received bytes follow as they came.
inline QString unansweredInputPrefix() { return QStringLiteral("応答なしで破棄した受信: "); }
// The same for a command whose regex matching ran out of steps at the named rule.
inline QString unansweredBudgetPrefix(const QString &rule)
{
    return QStringLiteral("照合の上限で応答なしに破棄した受信 (%1): ").arg(rule);
}
// A command the instrument took but did not answer, and why (a Lua error, a damaged CRC, a
// request for another slave): where, the reason, then the bytes.
inline QString unansweredBecause(const QString &where, const QString &reason)
{
    return QStringLiteral("応答なしで破棄した受信 (%1: %2): ").arg(where, reason);
}
// A profile's Lua failed (logged once for each rule): where, and Lua's message with its line.
inline QString scriptError(const QString &where, const QString &message)
{
    return QStringLiteral("スクリプトのエラー (%1): %2").arg(where, message);
}
// The profile's [line] in force instead of the settings' port settings.
inline QString profileLine(const QString &settings)
{
    return QStringLiteral("プロファイルの回線設定: %1").arg(settings);
}
// A pseudo-terminal has no data bits or parity to set: what the line carries instead.
inline QString lineCarriedAs(const QString &settings, const QString &carried)
{
    return QStringLiteral("仮想ポートは %1 を設定できないため %2 で送受信します").arg(settings, carried);
}
// The host set other line settings on its end than the instrument's (on a virtual port, where
// the program sees them): both, as "19200 8N1". The bytes reach each side as such a line
// would carry them.
inline QString hostLineDiffers(const QString &host, const QString &instrument)
{
    return QStringLiteral("ホストの回線設定が計器と異なります: host %1, instrument %2").arg(host, instrument);
}
inline QString hostLineAgrees(const QString &instrument)
{
    return QStringLiteral("ホストの回線設定が計器と一致しました: %1").arg(instrument);
}
// The host's DTR and RTS as it set them (a host run by --exec).
inline QString hostLines(bool dtr, bool rts)
{
    return QStringLiteral("ホストの制御線: DTR %1, RTS %2")
            .arg(dtr ? QStringLiteral("on") : QStringLiteral("off"),
                 rts ? QStringLiteral("on") : QStringLiteral("off"));
}
// A break the host sent (a host run by --exec), with its length.
inline QString hostBreak(int ms)
{
    return QStringLiteral("ホストからのブレーク: %1 ms").arg(ms);
}
// Input that came while the instrument's receive buffer was full, lost; the bytes follow.
inline QString overrunPrefix() { return QStringLiteral("受信バッファあふれで失った受信: "); }
// The instrument's receive buffer filled (it asked the host to wait) or emptied again.
inline QString receiveBufferCrossed(qint64 fill, qint64 size, const QString &signal)
{
    return QStringLiteral("受信バッファ %1/%2 バイト: %3").arg(fill).arg(size).arg(signal);
}
// A break the instrument sent the host, with its length.
inline QString breakSent(int ms)
{
    return QStringLiteral("ホストへのブレーク: %1 ms").arg(ms);
}
// A hand-edited interval that is no number runs at one second.
inline QString intervalNotANumber(const QString &text)
{
    return QStringLiteral("間隔 \"%1\" は数値でないため 1 秒で出力します").arg(text);
}
inline QString intervalNotANumberPrefix() { return QStringLiteral("間隔 \""); }
// SOUCHICMD.txt holds other bytes than PROTcol.txt's texts convert to; the named fields
// follow. The line goes out as SOUCHICMD.txt has it.
inline QString filesDisagree(const QString &fields)
{
    return QStringLiteral("SOUCHICMD.txt が PROTcol.txt と異なります (SOUCHICMD.txt を送信します): %1")
            .arg(fields);
}
inline QString filesDisagreePrefix() { return QStringLiteral("SOUCHICMD.txt が PROTcol.txt と異なります"); }
// The profile in force and its seed, at Start: a session is repeated with the same seed.
inline QString profileInForce(const QString &file, quint64 seed)
{
    return QStringLiteral("プロファイル: %1 (seed %2)").arg(file).arg(seed);
}
// The faults a rule's answer got, after its exchange line: "rule 2: truncate, garbage".
inline QString faultsApplied(const QString &rule, const QStringList &faults)
{
    return QStringLiteral("障害を適用しました (%1): %2").arg(rule, faults.join(QStringLiteral(", ")));
}
inline QString faultsAppliedPrefix() { return QStringLiteral("障害を適用しました ("); }
} // namespace LineTexts
