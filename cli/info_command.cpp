// `zolt info`.
#include <cstdio>
#include <optional>

#include "cli/commands.h"
#include "cli/console_prompt.h"
#include "cli/run_checks.h"
#include "cli/run_options.h"
#include "job/job_checks.h"
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
    if (auto problem = ConfigFileProblem(configPath ? *configPath : DefaultConfigPath())) {
        std::fprintf(stderr, "zolt: %s%s\n", problem->c_str(),
                     configPath ? "" : ": run zolt in the folder that holds ZOLT.ini, or give --config FILE");
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
    std::printf("Boot Ver:      %s\n", PrintableText(info.BootVersionText()).c_str());
    std::printf("Boot Chksum:   %s\n", FormatChecksum(info.bootChksum).c_str());
    std::printf("CP Ver:        %s\n", PrintableText(info.CpVersionText()).c_str());
    std::printf("CP Chksum:     %s\n", FormatChecksum(info.cpChksum).c_str());
    std::printf("Mobile Name:   %s\n", PrintableText(info.imageModel).c_str());
    // A cut-off image would otherwise pass here and fail half-way through a flash.
    TaskList all;
    all.Assign({TASK_UPDATE_BOOT, TASK_UPDATE_CP, TASK_UPDATE_DATA});
    if (auto problem = ImageSectionProblem(all, config, file.image().fileLength, image)) {
        std::printf("Check:         %s\n", problem->c_str());
        return EXIT_USAGE;
    }
    if (result == LOAD_OK) {
        std::printf("Check:         matches the configuration\n");
        return EXIT_OK;
    }
    std::printf("Check:         File format error ! (identification \"%s\", expected \"%s\"; model \"%s\", expected \"%s\")\n",
                PrintableText(info.imageIdent).c_str(), PrintableText(config.checkInfo).c_str(),
                PrintableText(info.imageModel).c_str(), PrintableText(config.mobileName).c_str());
    return EXIT_USAGE;
}

}  // namespace zolt::cli
