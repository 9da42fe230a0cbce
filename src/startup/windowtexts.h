#pragma once

#include <QString>

// Fixed texts the windows and their message boxes share.
namespace Texts {
inline QString appTitle() { return QStringLiteral("Kalo_RS232Cシミュレータ"); }
inline QString confirmTitle() { return QStringLiteral("確認"); }
inline QString endQuestion() { return QStringLiteral("終了してもよろしいですか?"); }
// The maker's page, opened from the version dialog.
inline QString makerUrl() { return QStringLiteral("https://kalo-rs232c.example.org/"); }
inline QString tipStopped() { return QStringLiteral("停止中"); }
inline QString tipRunning() { return QStringLiteral("起動中"); }
} // namespace Texts
