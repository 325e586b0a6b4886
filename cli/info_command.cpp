// `zolt info` and `zolt ports`.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/commands.h"
#include "cli/console_prompt.h"
#include "cli/run_options.h"
#include "job/config_file.h"
#include "job/port_list.h"
#include "job/rom_image.h"

namespace zolt::cli {

namespace {
const char* const INFO_USAGE =
    "usage: zolt info --image FILE.bin [--config FILE]\n"
    "Shows the image information (versions, checksums, model) and whether the image matches\n"
    "the configuration (default: ZOLT.ini of the current directory).\n"
    "exit status: 0 it matches, 2 it does not or cannot be read\n";

const char* const PORTS_USAGE =
    "usage: zolt ports [--port DEVICE]...\n"
    "Probes the machine's serial ports (and any device named) and lists them.\n";

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

int PortsCommand(const std::vector<std::string>& args) {
    std::vector<std::string> named;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(PORTS_USAGE, stdout);
            return EXIT_OK;
        }
        if (args[i] == "--port" && i + 1 < args.size()) {
            named.push_back(args[++i]);
            continue;
        }
        std::fprintf(stderr, "zolt ports: unknown or incomplete option %s\n%s", args[i].c_str(), PORTS_USAGE);
        return EXIT_USAGE;
    }
    // Probing needs no job: nothing else (no catalogue, no configuration) is read.
    const auto prober = PortProber::Standard();
    std::vector<std::string> devices = prober->Candidates();
    for (const auto& device : named) {
        if (std::find(devices.begin(), devices.end(), device) == devices.end()) devices.push_back(device);
    }
    std::vector<PortEntry> rows;
    for (const auto& device : devices) {
        const PortState state = prober->Probe(device);
        const bool wasNamed = std::find(named.begin(), named.end(), device) != named.end();
        if (state == PORT_ABSENT) {
            if (wasNamed) std::fprintf(stderr, "zolt: port %s does not exist\n", device.c_str());
            continue;
        }
        PortEntry row = prober->Describe(device);
        row.state = state;
        rows.push_back(row);
    }
    std::printf("%-24s %-8s %-24s %-15s %s\n", "Port", "State", "Label", "Phone", "Baud");
    for (const auto& row : rows) {
        std::printf("%-24s %-8s %-24s %-15s %d\n", row.name.c_str(), PortStateText(row.state), row.name.c_str(),
                    PortPhoneText(row.state), row.baud);
    }
    if (rows.empty()) std::printf("(no serial port found)\n");
    return EXIT_OK;
}

}  // namespace zolt::cli
