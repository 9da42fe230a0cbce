#pragma once

#include "cp932.h"

#include <QByteArray>
#include <QString>

// The log's own lines as a user reads them in the README, kept here apart from the program's
// copies and encoded by the tests' own encoder: a changed wording fails here first.
namespace Oracle::LogTexts {

inline QByteArray started() { return cp932(QStringLiteral("通信を開始しました。")); }
inline QByteArray stopped() { return cp932(QStringLiteral("通信を停止しました。")); }
inline QByteArray arrow() { return cp932(QStringLiteral("→")); }
inline QByteArray cannotOpen() { return cp932(QStringLiteral("ポートを開けません: ")); }
inline QByteArray lost() { return cp932(QStringLiteral("ポートが切断されました: ")); }
inline QByteArray reconnected() { return cp932(QStringLiteral("ポートを再接続しました: ")); }
inline QByteArray refused() { return cp932(QStringLiteral("送信できません: ")); }
// Followed by the count, " バイト (", the device and ")".
inline QByteArray dropped() { return cp932(QStringLiteral("未送信のまま破棄しました: ")); }
inline QByteArray droppedUnit() { return cp932(QStringLiteral(" バイト (")); }
// Followed by the dropped input as it came.
inline QByteArray unanswered() { return cp932(QStringLiteral("応答なしで破棄した受信: ")); }
inline QByteArray intervalNoNumber(const QString &interval)
{
    return cp932(QStringLiteral("間隔 \"%1\" は数値でないため 1 秒で出力します").arg(interval));
}
// Followed by the names of the fields that differ.
inline QByteArray filesDisagree()
{
    return cp932(QStringLiteral(
            "SOUCHICMD.txt が PROTcol.txt と異なります (SOUCHICMD.txt を送信します): "));
}

} // namespace Oracle::LogTexts
