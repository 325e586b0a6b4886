// The configuration files of a job: the default "ZOLT.ini" in the current directory, and
// the alternatives the operator picks, normally from the folder "ZOLT_CONFIG" below it.
// The file chooser belongs to the front ends; these functions take the path it gave.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/config.h"
#include "io/ini_file.h"
#include "io/paths.h"

namespace zolt {

inline constexpr std::string_view CONFIG_FILE_NAME = "ZOLT.ini";
inline constexpr std::string_view CONFIG_FOLDER_NAME = "ZOLT_CONFIG";
// What the file chooser offers: its filter (in the "name|pattern|...||" form) and the
// extension it adds to a name typed without one.
inline constexpr std::string_view CONFIG_CHOOSER_FILTER = "Ini Files(*.ini)|*.ini|All Files(*.*)|*.*||";
inline constexpr std::string_view CONFIG_CHOOSER_EXTENSION = "ini";

// "ZOLT.ini" in the current directory.
[[nodiscard]] std::string DefaultConfigPath();

// The name the file chooser starts with: "*.ini" in "ZOLT_CONFIG" below the current directory.
[[nodiscard]] std::string ConfigChooserInitialName();

// Reads "UpdateFlag " of "MainConfig" from "ZOLT.ini" in `folder` (the current directory when
// empty) into config.updateFlag (0 when the file or key is missing). Called once at start-up;
// no other file ever sets it.
void ReadUpdateFlag(Config& config, std::string_view folder);

// Reads every value but updateFlag from the file the operator chose, or from the default
// file when the choice was cancelled (no value or an empty path). Every member read is
// overwritten; missing files, sections and keys give the defaults of Config. Returns the
// path that was read.
std::string ReadConfig(Config& config, const std::optional<std::string>& chosenPath);

// The values of ReadConfig taken from an already read file.
void ApplyConfig(const IniFile& file, Config& config);

}  // namespace zolt
