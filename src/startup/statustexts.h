#pragma once

#include <QString>

#include <optional>

// The two texts of the main window's status bar.
struct StatusTexts
{
    QString outputType; // panel 1
    QString commSettings; // panel 2

    // Nothing when the output type is not a number: the panels then keep their texts.
    static std::optional<StatusTexts> make(const QString &outputType,
                                           const QString &commSettingsString);
};
