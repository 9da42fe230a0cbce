#include "startup/statustexts.h"

#include "settings/loadsettings.h"

std::optional<StatusTexts> StatusTexts::make(const QString &outputType,
                                             const QString &commSettingsString)
{
    const std::optional<double> type = settingsNumber(outputType);
    if (!type)
        return std::nullopt;
    StatusTexts texts;
    texts.outputType = *type != 0 ? QStringLiteral("出力ﾀｲﾌﾟ : 受信ごとに出力")
                                  : QStringLiteral("出力ﾀｲﾌﾟ : 連続出力");
    texts.commSettings = QStringLiteral("通信設定 : ") + commSettingsString;
    return texts;
}
