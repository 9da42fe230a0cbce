#pragma once

#include "settings/settingsrecords.h"

#include <QString>

#include <array>

namespace mdlSUCMD {

// The texts a settings form holds, in the order of the table's fields.
struct SettingsTexts
{
    QString continuousOutput;
    std::array<QString, kPatternCount> deviceCommands;
    std::array<QString, kPatternCount> outputData;
};

// All eleven conversions: an empty text gives an empty entry.
DeviceCommandTable ConvertSettingsTexts(const SettingsTexts &texts);

} // namespace mdlSUCMD
