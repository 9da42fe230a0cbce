#pragma once

#include <QString>

// Fixed texts of the program that a window and the headless front end both use.
namespace Texts {
inline QString alreadyRunning() { return QStringLiteral("既に起動されています。"); }
inline QString noSettingsFolder() { return QStringLiteral("設定を保存できるフォルダがありません。"); }
inline QString mainCaption()
{
    return QStringLiteral("Kalo_232Cシミュレータ v1.01 (C) kalo_rs232c 開発チーム 無断転載禁止");
}
// The log's first stamped line when the program laid its own virtual port.
inline QString virtualHostEnd() { return QStringLiteral("仮想ポートのホスト側: "); }
} // namespace Texts
