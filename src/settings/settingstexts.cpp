#include "settings/settingstexts.h"

#include "text/tokencodec.h"

namespace mdlSUCMD {

DeviceCommandTable ConvertSettingsTexts(const SettingsTexts &texts)
{
    DeviceCommandTable table;
    table.ContinuousOutputBytes = ConvertTokenText(texts.continuousOutput);
    for (size_t i = 0; i < size_t(kPatternCount); ++i) {
        table.DeviceCommandBytes[i] = ConvertTokenText(texts.deviceCommands[i]);
        table.OutputDataBytes[i] = ConvertTokenText(texts.outputData[i]);
    }
    return table;
}

} // namespace mdlSUCMD
