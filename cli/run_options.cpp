#include "cli/run_options.h"

#include <algorithm>

namespace zolt::cli {

const char* const RUN_USAGE =
    "usage: zolt run --image FILE.bin --update all|boot|cp|data [--with-cal] --port DEVICE...\n"
    "       zolt run --script FILE.srp --port DEVICE...\n"
    "       zolt run --restore COM-1calibration.srp --port DEVICE\n"
    "options:\n"
    "  --port DEVICE    a phone's port (COMn on Windows, a device path or one of its\n"
    "                   /dev/serial/by-id or by-path names elsewhere: see 'zolt ports');\n"
    "                   repeat for up to 32 lines, numbered in the order given\n"
    "  --config FILE    the configuration (default: ZOLT.ini of the current directory)\n"
    "  --workdir DIR    where calibration.ini is read and calibration files go (default: the\n"
    "                   current directory); every complete backup is also kept in its\n"
    "                   backups folder\n"
    "  --report FILE    also write the outcome as JSON\n"
    "  --trace FILE     write every frame sent and received on every line to FILE\n"
    "  --restore FILE   play a calibration file saved by an earlier backup (a line's file or\n"
    "                   one of the backups folder) back to one phone, with the setting saved\n"
    "                   beside it (FILE with .setting for .srp); a file that is not a whole\n"
    "                   backup of the catalogue's pages, or whose setting file does not name\n"
    "                   it, is refused before anything is sent\n"
    "  --phone-wait SECONDS\n"
    "                   give up on a phone that has not answered for this long where a line\n"
    "                   would otherwise wait until it does: for the boot loader, for\n"
    "                   file-system access, for the echo that opens a restore or script, and\n"
    "                   for the phone's setting to be read or written; the line then fails,\n"
    "                   saying what it waited for (default: wait until the phone answers or\n"
    "                   the job is stopped)\n"
    "exit status: 0 every line finished every task, 1 a line failed, 2 usage, configuration\n"
    "or file error, 130 interrupted\n";

std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& args, std::string& error) {
    RunOptions o;
    std::string update;
    auto value = [&](std::size_t& i, const std::string& name) -> std::optional<std::string> {
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = name + " needs a value";
            return std::nullopt;
        }
        return args[++i];
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::optional<std::string> v;
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        } else if (a == "--with-cal") {
            o.withCal = true;
            continue;
        } else if (a == "--image" || a == "--script" || a == "--restore" || a == "--update" || a == "--port" || a == "--config" ||
                   a == "--workdir" || a == "--report" || a == "--trace" || a == "--phone-wait") {
            if (!(v = value(i, a))) return std::nullopt;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
        if (a == "--image") o.image = *v;
        if (a == "--script") o.script = *v;
        if (a == "--restore") o.restore = *v;
        if (a == "--update") update = *v;
        if (a == "--port") o.ports.push_back(*v);
        if (a == "--config") o.config = *v;
        if (a == "--workdir") o.workdir = *v;
        if (a == "--report") o.report = *v;
        if (a == "--trace") o.trace = *v;
        if (a == "--phone-wait") {
            // Whole seconds, 1 to a day: a wait shorter than a handshake would fail every phone.
            const std::string& text = *v;
            const bool digits = text.size() <= 6 && text.find_first_not_of("0123456789") == std::string::npos;
            const int seconds = digits ? std::stoi(text) : 0;
            if (seconds < 1 || seconds > 86400) {
                error = "--phone-wait needs a number of seconds from 1 to 86400, not " + text;
                return std::nullopt;
            }
            o.phoneWaitSeconds = seconds;
        }
    }
    if (!o.image.empty() + !o.script.empty() + !o.restore.empty() != 1) {
        error = "give one of --image, --script or --restore";
        return std::nullopt;
    }
    // A saved backup is one phone's calibration: never played to another phone as well.
    if (!o.restore.empty() && o.ports.size() != 1) {
        error = "--restore plays one phone's backup back to one --port";
        return std::nullopt;
    }
    if (!o.image.empty()) {
        static const char* const names[] = {"all", "boot", "cp", "data"};
        auto it = std::find(std::begin(names), std::end(names), update);
        if (it == std::end(names)) {
            error = update.empty() ? "--image needs --update all|boot|cp|data" : "unknown --update " + update;
            return std::nullopt;
        }
        o.choice = static_cast<int>(it - std::begin(names)) + 1;
    } else if (!update.empty()) {
        error = "--update goes with --image only";
        return std::nullopt;
    }
    if (o.withCal && o.choice != 1) {
        error = "--with-cal only goes with --update all";
        return std::nullopt;
    }
    if (o.ports.empty() || o.ports.size() > static_cast<std::size_t>(MAX_PORTS)) {
        error = o.ports.empty() ? "give at least one --port" : "at most " + std::to_string(MAX_PORTS) + " ports";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < o.ports.size(); ++i) {
        if (std::count(o.ports.begin(), o.ports.end(), o.ports[i]) > 1) {
            error = "port " + o.ports[i] + " is given twice";
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace zolt::cli
