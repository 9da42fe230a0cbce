#pragma once

#include "cp932.h"

#include <QByteArray>
#include <QString>

// The log's own lines as a user reads them in the docs, kept here apart from the program's
// copies and encoded by the tests' own encoder: a changed wording fails here first.
namespace Oracle::LogTexts {

inline const QByteArray kStarted = cp932(QStringLiteral("通信を開始しました。"));
inline const QByteArray kStopped = cp932(QStringLiteral("通信を停止しました。"));
inline const QByteArray kArrow = cp932(QStringLiteral("→"));
inline const QByteArray kCannotOpen = cp932(QStringLiteral("ポートを開けません: "));
inline const QByteArray kLost = cp932(QStringLiteral("ポートが切断されました: "));
inline const QByteArray kReconnected = cp932(QStringLiteral("ポートを再接続しました: "));
inline const QByteArray kRefused = cp932(QStringLiteral("送信できません: "));
// Followed by the count, " バイト (", the device and ")".
inline const QByteArray kDropped = cp932(QStringLiteral("未送信のまま破棄しました: "));
inline const QByteArray kDroppedUnit = cp932(QStringLiteral(" バイト ("));
// Followed by the dropped input as it came.
inline const QByteArray kUnanswered = cp932(QStringLiteral("応答なしで破棄した受信: "));
// Followed by the rule's name, "): " and its faults, joined by ", ".
inline const QByteArray kFaultsApplied = cp932(QStringLiteral("障害を適用しました ("));
// Followed by the names of the fields that differ.
inline const QByteArray kFilesDisagree = cp932(
    QStringLiteral("SOUCHICMD.txt が PROTcol.txt と異なります (SOUCHICMD.txt を送信します): "));

inline QByteArray intervalNoNumber(const QString &interval)
{
    return cp932(QStringLiteral("間隔 \"%1\" は数値でないため 1 秒で出力します").arg(interval));
}

} // namespace Oracle::LogTexts
