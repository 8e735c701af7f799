// The window's settings between runs: five "key: value" lines in Dravik.cfg.
#pragma once

#include <string>

#include "conversion_driver.h"

namespace dravik {

// Dravik.cfg in the program folder, or $XDG_CONFIG_HOME/dravik/Dravik.cfg
// (default ~/.config/dravik/) when the program folder is not writable.
std::string SettingsFilePath(const std::string& program_folder);

// Reads what the file holds into settings; a missing file leaves them as they
// are but for the output selection, which becomes 0. output_count bounds the
// stored selection.
void ReadSettingsFile(const std::string& path, int output_count, ConversionSettings& settings);

// Writes the five lines; failures are silent, as a lost settings file only
// costs the user their last choices.
void WriteSettingsFile(const std::string& path, const ConversionSettings& settings);

}  // namespace dravik
