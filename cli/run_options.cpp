#include "cli/run_options.h"

#include <algorithm>

namespace zolt::cli {

namespace {

// Writing the Data section erases the phone's calibration: the operator says whether it is
// kept (--with-cal, all only) or may go (--no-cal), never the default.
std::optional<std::string> CalibrationError(const RunOptions& o) {
    // cp writes the Data section too where the configuration's update flag says so: that is
    // checked against the configuration, once it is read.
    const bool mayEraseCal = o.choice == 1 || o.choice == 3 || o.choice == 4;
    if (o.withCal && o.noCal) return "give --with-cal or --no-cal, not both";
    if (o.withCal && o.choice != 1) return "--with-cal only goes with --update all";
    if (o.noCal && !mayEraseCal) return "--no-cal only goes with --update all or data";
    if (o.choice == 1 && !o.withCal && !o.noCal) {
        return "--update all erases the phone's calibration with the Data section: add --with-cal to back it up "
               "and restore it around the update, or --no-cal if erasing it is intended";
    }
    if (o.choice == 4 && !o.noCal) {
        return "--update data erases the phone's calibration with the Data section: use --update all --with-cal "
               "to back it up and restore it around the update, or add --no-cal if erasing it is intended";
    }
    return std::nullopt;
}

}  // namespace

const char* const RUN_USAGE =
    "usage: zolt run --image FILE.bin --update all --with-cal --port DEVICE...\n"
    "       zolt run --image FILE.bin --update all|data --no-cal --port DEVICE...\n"
    "       zolt run --image FILE.bin --update boot|cp --port DEVICE...\n"
    "       zolt run --script FILE.srp --port DEVICE...\n"
    "       zolt run --restore COM-1calibration.srp --port DEVICE\n"
    "what is sent:\n"
    "  --update all     the image's Boot, CP and Data sections\n"
    "  --update boot    its Boot section\n"
    "  --update cp      its CP section (and its Data section where the update flag\n"
    "                   is 4: see --config)\n"
    "  --update data    its Data section\n"
    "                   The Data section holds the phone's calibration: writing it\n"
    "                   erases the calibration, so all and data (and cp with update\n"
    "                   flag 4) need one of\n"
    "  --with-cal       (all only, where the update flag allows it) back the\n"
    "                   calibration up before the update and restore it after,\n"
    "                   reading every page back to check it\n"
    "  --no-cal         erasing the calibration is intended: no backup is made\n"
    "  --script FILE    the script's FFS SIDB writes; its database writes are not\n"
    "                   sent (a restore sends them)\n"
    "  --restore FILE   a calibration file saved by an earlier backup (a line's\n"
    "                   file or one of the backups folder), to one phone, with the\n"
    "                   setting saved beside it (FILE with .setting for .srp); a\n"
    "                   file that is not a whole backup of the catalogue's pages,\n"
    "                   or whose setting file does not name it, is refused before\n"
    "                   anything is sent\n"
    "options:\n"
    "  --port DEVICE    a phone's port (COMn on Windows, elsewhere a device path\n"
    "                   or one of its /dev/serial/by-id or by-path names: see\n"
    "                   'zolt ports'); repeat for up to 32 lines, numbered in the\n"
    "                   order given\n"
    "  --config FILE    the configuration: the image's sections and identification\n"
    "                   (default: ZOLT.ini of the current directory); the update\n"
    "                   flag, which says which --update choices are allowed, is\n"
    "                   always read from ZOLT.ini of the current directory\n"
    "  --workdir DIR    the work folder (default: the current directory), where\n"
    "                   the catalogue of calibration pages, calibration.ini, is\n"
    "                   read and a backup's calibration files are written\n"
    "                   (COM-<line>calibration.srp and .setting); every complete\n"
    "                   backup is also kept in its backups folder\n"
    "  --report FILE    also write the outcome as JSON\n"
    "  --trace FILE     write every frame sent and received on every line to FILE\n"
    "  --history PATH|URL\n"
    "                   where each phone's entry goes when its line ends: a SQLite\n"
    "                   file (default: zolt-history.sqlite in the work folder) or\n"
    "                   a PostgreSQL server (postgresql://...), shared by many\n"
    "                   stations; while the server cannot be reached, entries wait\n"
    "                   in zolt-history-spool.sqlite in the work folder ('zolt\n"
    "                   history' reads them)\n"
    "  --station NAME   the station's name in the history (default: the host name)\n"
    "  --no-history     keep no history\n"
    "  --phone-wait SECONDS\n"
    "                   give up on a phone that has not answered for this long\n"
    "                   where a line would otherwise wait until it does: for the\n"
    "                   boot loader, for file-system access, for the echo that\n"
    "                   opens a restore or script, and for the phone's setting to\n"
    "                   be read or written; the line then fails, saying what it\n"
    "                   waited for (default: wait until the phone answers or the\n"
    "                   job is stopped)\n"
    "exit status: 0 every line finished every task, 1 a line failed, 2 usage,\n"
    "configuration or file error, 130 interrupted (Ctrl-C)\n";

namespace {

// A whole number from 1 to `most`, or nothing.
std::optional<int> Whole(const std::string& text, int most) {
    const bool digits = !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
    const long long n = digits ? std::stoll(text) : 0;
    if (n < 1 || n > most) return std::nullopt;
    return static_cast<int>(n);
}

}  // namespace

const char* const STATION_USAGE =
    "usage: zolt station --image FILE.bin --update all --with-cal --port DEVICE...\n"
    "       zolt station --image FILE.bin --update all|data --no-cal --port DEVICE...\n"
    "       zolt station --image FILE.bin --update boot|cp --port DEVICE...\n"
    "       zolt station --script FILE.srp --port DEVICE...\n"
    "Every line runs the job on its own, all day: it waits for a phone to answer,\n"
    "runs the job on it, writes its history entry, shows the outcome, and waits\n"
    "until the phone is gone before it takes the next. A phone is gone when its\n"
    "port vanishes (a USB cable pulled out) or it has not answered for 2 seconds\n"
    "(a phone taken off a fixed serial port); a finished phone left on its line\n"
    "is never done twice. A port that is not there, or vanishes, is waited for by\n"
    "its name and opened again when it is back: give stable names\n"
    "(/dev/serial/by-path) for the sockets of a USB hub.\n"
    "options: those of zolt run (see zolt run --help) but --restore, and\n"
    "  --count N        end the station once N phones have finished (no phone\n"
    "                   beyond the Nth is started)\n"
    "  --report FILE    the outcome of every phone so far as JSON, replaced whole\n"
    "                   after every phone\n"
    "Ctrl-C: the lines between phones stop at once, and each line in the middle\n"
    "of a phone finishes it; a second Ctrl-C stops every line at once.\n"
    "exit status: 0 every phone passed, 1 a phone failed, 2 usage, configuration\n"
    "or file error, 130 interrupted (Ctrl-C)\n";

std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& args, std::string& error, bool station) {
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
        } else if (a == "--with-cal" || a == "--no-cal" || a == "--no-history") {
            (a == "--with-cal" ? o.withCal : a == "--no-cal" ? o.noCal : o.noHistory) = true;
            continue;
        } else if (a == "--image" || a == "--script" || a == "--restore" || a == "--update" || a == "--port" || a == "--config" ||
                   a == "--workdir" || a == "--report" || a == "--trace" || a == "--phone-wait" || a == "--history" ||
                   a == "--station" || (station && a == "--count")) {
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
        if (a == "--history") o.history = *v;
        if (a == "--station") o.station = *v;
        if (a == "--phone-wait") {
            // Whole seconds, 1 to a day: a wait shorter than a handshake would fail every phone.
            if (!(o.phoneWaitSeconds = Whole(*v, 86400))) {
                error = "--phone-wait needs a number of seconds from 1 to 86400, not " + *v;
                return std::nullopt;
            }
        }
        if (a == "--count" && !(o.count = Whole(*v, 1000000))) {
            error = "--count needs a number of phones from 1 to 1000000, not " + *v;
            return std::nullopt;
        }
    }
    // A saved backup is one phone's: a station would play it to every phone that comes.
    if (station && !o.restore.empty()) {
        error = "--restore plays one phone's backup: use zolt run";
        return std::nullopt;
    }
    if (!o.image.empty() + !o.script.empty() + !o.restore.empty() != 1) {
        error = "give one of --image, --script or --restore";
        return std::nullopt;
    }
    if (o.noHistory && (o.history || o.station)) {
        error = "--no-history goes with neither --history nor --station";
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
    if (auto calError = CalibrationError(o)) {
        error = *calError;
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
