// `zolt info`.
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/commands.h"
#include "cli/console_prompt.h"
#include "cli/run_options.h"
#include "job/config_file.h"
#include "job/rom_image.h"

namespace zolt::cli {

namespace {
const char* const INFO_USAGE =
    "usage: zolt info --image FILE.bin [--config FILE]\n"
    "Shows the image information (versions, checksums, model) and whether the image matches\n"
    "the configuration (default: ZOLT.ini of the current directory).\n"
    "exit status: 0 it matches, 2 it does not or cannot be read\n";

}  // namespace

int InfoCommand(const std::vector<std::string>& args) {
    std::string image;
    std::optional<std::string> configPath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(INFO_USAGE, stdout);
            return EXIT_OK;
        }
        if ((args[i] == "--image" || args[i] == "--config") && i + 1 < args.size()) {
            (args[i] == "--image" ? image : configPath.emplace()) = args[i + 1];
            ++i;
            continue;
        }
        std::fprintf(stderr, "zolt info: unknown or incomplete option %s\n%s", args[i].c_str(), INFO_USAGE);
        return EXIT_USAGE;
    }
    if (image.empty()) {
        std::fprintf(stderr, "zolt info: give --image FILE\n%s", INFO_USAGE);
        return EXIT_USAGE;
    }
    if (configPath && !std::filesystem::is_regular_file(*configPath)) {
        std::fprintf(stderr, "zolt: cannot read the configuration %s\n", configPath->c_str());
        return EXIT_USAGE;
    }
    Config config;
    ReadUpdateFlag(config, {});
    const std::string read = ReadConfig(config, configPath);
    ConsolePrompt prompt;
    JobFile file(config, prompt);
    const int result = file.LoadRomImage(image);
    if (result == LOAD_FAILED) return EXIT_USAGE;
    const ImageInfo& info = file.info();
    std::printf("Image:         %s (%u bytes)\n", image.c_str(), file.image().fileLength);
    std::printf("Configuration: %s\n", read.c_str());
    std::printf("Boot Ver:      %s\n", info.BootVersionText().c_str());
    std::printf("Boot Chksum:   %s\n", FormatChecksum(info.bootChksum).c_str());
    std::printf("CP Ver:        %s\n", info.CpVersionText().c_str());
    std::printf("CP Chksum:     %s\n", FormatChecksum(info.cpChksum).c_str());
    std::printf("Mobile Name:   %s\n", info.imageModel.c_str());
    if (result == LOAD_OK) {
        std::printf("Check:         matches the configuration\n");
        return EXIT_OK;
    }
    std::printf("Check:         File format error ! (identification \"%s\", expected \"%s\"; model \"%s\", expected \"%s\")\n",
                info.imageIdent.c_str(), config.checkInfo.c_str(), info.imageModel.c_str(), config.mobileName.c_str());
    return EXIT_USAGE;
}

}  // namespace zolt::cli
