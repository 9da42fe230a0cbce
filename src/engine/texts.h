#pragma once

#include <QString>

// Fixed texts of the program that more than one window, or a window and the headless
// front end, use.
namespace Texts {
inline QString appTitle() { return QStringLiteral("Kalo_RS232Cシミュレータ"); }
inline QString confirmTitle() { return QStringLiteral("確認"); }
inline QString endQuestion() { return QStringLiteral("終了してもよろしいですか?"); }
inline QString alreadyRunning() { return QStringLiteral("既に起動されています。"); }
inline QString noSettingsFolder() { return QStringLiteral("設定を保存できるフォルダがありません。"); }
inline QString mainCaption()
{
    return QStringLiteral("Kalo_232Cシミュレータ v1.01 (C) kalo_rs232c 開発チーム 無断転載禁止");
}
// The maker's page, opened from the version dialog.
inline QString makerUrl() { return QStringLiteral("https://kalo-rs232c.example.org/"); }
inline QString tipStopped() { return QStringLiteral("停止中"); }
inline QString tipRunning() { return QStringLiteral("起動中"); }
// The log's first stamped line when the program laid its own virtual port.
inline QString virtualHostEnd() { return QStringLiteral("仮想ポートのホスト側: "); }
} // namespace Texts
