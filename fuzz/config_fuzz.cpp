// Fuzzes the INI reader and the configuration keys with arbitrary bytes. What a job reads
// from a file depends on nothing but the file: reading it twice, over a Config that held
// other values, with a byte-order mark in front or with CR LF line ends gives the same
// values, and every text value fits the program's 49-character buffers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "io/ini_file.h"
#include "job/config_file.h"

namespace {

using zolt::Config;
using zolt::IniFile;
using zolt::fuzz::Require;

bool Same(const Config& a, const Config& b) {
    return a.checkInfo == b.checkInfo && a.mobileName == b.mobileName &&
           a.combineVer == b.combineVer && a.updateFlag == b.updateFlag &&
           a.bootStart == b.bootStart && a.bootSize == b.bootSize &&
           a.bootChksumPos == b.bootChksumPos && a.cpStart == b.cpStart && a.cpSize == b.cpSize &&
           a.cpChksumPos == b.cpChksumPos && a.dataStart == b.dataStart && a.dataSize == b.dataSize;
}

Config Read(std::string_view text, Config config) {
    zolt::ApplyConfig(IniFile::Parse(text), config);
    return config;
}

std::string WithCrLf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Config other;
    other.checkInfo = "stale";
    other.mobileName = "stale";
    other.combineVer = other.bootStart = other.bootSize = other.bootChksumPos = 77;
    other.cpStart = other.cpSize = other.cpChksumPos = other.dataStart = other.dataSize = 77;

    const Config first = Read(text, Config{});
    Require(first.checkInfo.size() <= 49 && first.mobileName.size() <= 49);
    Require(Same(first, Read(text, other)));
    // Beyond half the cap the variants would lose a different tail of the text.
    // Only one mark is ignored, so a text that has one already takes no second.
    if (2 * size + 3 <= IniFile::kMaxFileBytes) {
        if (!text.starts_with("\xEF\xBB\xBF")) {
            Require(Same(first, Read("\xEF\xBB\xBF" + std::string(text), Config{})));
        }
        Require(Same(first, Read(WithCrLf(text), Config{})));
    }

    // A key that is not there gives the default, whichever default is asked for.
    const IniFile ini = IniFile::Parse(text);
    if (!ini.HasKey("MainConfig", "CheckInfo")) {
        Require(ini.GetString("MainConfig", "CheckInfo", "\x01") == "\x01");
    }
    if (!ini.HasKey("BootConfig", "Start")) {
        Require(ini.GetInt("BootConfig", "Start", 5) == 5 && ini.GetInt("BootConfig", "Start", -9) == -9);
    }
    if (ini.HasKey("MainConfig", "CheckInfo")) Require(ini.HasSection("MainConfig"));
    return 0;
}
