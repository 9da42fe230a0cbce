#pragma once

#include <QString>

// The log lines of a recording run (--record). Tests name them; keep the wording stable.
namespace RecordTexts {
// Before the bytes of one read, forwarded as they came.
inline QString hostToDevice() { return QStringLiteral("ホスト→装置: "); }
inline QString deviceToHost() { return QStringLiteral("装置→ホスト: "); }
// Before the bytes of a read the other side did not take; the reason has its own line.
inline QString notForwarded() { return QStringLiteral("中継できなかった受信: "); }
inline QString recordingStarted(const QString &host, const QString &device)
{
    return QStringLiteral("記録を開始しました: ホスト %1 ⇔ 装置 %2")
            .arg(host, device);
}
// The recording keeps a bounded amount; past it the relay goes on unrecorded.
inline QString recordingFull()
{
    return QStringLiteral("記録の上限に達しました: 以後は中継のみ行います");
}
inline QString recordedTo(const QString &file)
{
    return QStringLiteral("記録をプロファイルに保存しました: ") + file;
}
} // namespace RecordTexts
