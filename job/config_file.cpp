#include "job/config_file.h"

#include "io/paths.h"


namespace zolt {
std::string DefaultConfigPath() { return JoinPath(CurrentDirectory(), CONFIG_FILE_NAME); }

std::string ConfigChooserInitialName() {
    return JoinPath(JoinPath(CurrentDirectory(), CONFIG_FOLDER_NAME), "*.ini");
}

void ReadUpdateFlag(Config& config, std::string_view folder) {
    const std::string path = folder.empty() ? DefaultConfigPath() : JoinPath(folder, CONFIG_FILE_NAME);
    config.updateFlag = IniFile::Load(path).GetInt("MainConfig", "UpdateFlag ", 0);
}

void ApplyConfig(const IniFile& file, Config& config) {
    const Config defaults;
    config.checkInfo = file.GetString("MainConfig", "CheckInfo", defaults.checkInfo);
    config.mobileName = file.GetString("MainConfig", "MobileName", defaults.mobileName);
    config.combineVer = file.GetInt("MainConfig", "CombineVer ", defaults.combineVer);
    config.bootStart = file.GetInt("BootConfig", "Start", defaults.bootStart);
    config.bootSize = file.GetInt("BootConfig", "Size", defaults.bootSize);
    config.bootChksumPos = file.GetInt("BootConfig", "ChksumPos", defaults.bootChksumPos);
    config.cpStart = file.GetInt("CpConfig", "Start", defaults.cpStart);
    config.cpSize = file.GetInt("CpConfig", "Size", defaults.cpSize);
    config.cpChksumPos = file.GetInt("CpConfig", "ChksumPos", defaults.cpChksumPos);
    config.dataStart = file.GetInt("DataConfig", "Start", defaults.dataStart);
    config.dataSize = file.GetInt("DataConfig", "Size", defaults.dataSize);
}

std::string ReadConfig(Config& config, const std::optional<std::string>& chosenPath) {
    // Cancelling the chooser is not a way out: it reads the default file.
    std::string path = chosenPath && !chosenPath->empty() ? *chosenPath : DefaultConfigPath();
    ApplyConfig(IniFile::Load(path), config);
    return path;
}

}  // namespace zolt
