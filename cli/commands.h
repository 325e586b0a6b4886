// The commands of `zolt`. Each takes the words after its name and returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace zolt::cli {

// `folder` is where the update flag's "ZOLT.ini" is read from: the current directory when
// empty. The page catalogue is read from the work folder (--workdir, the current directory
// when not given).
int RunCommand(const std::vector<std::string>& args, const std::string& folder = {});
// `zolt station`: `folder` as for RunCommand.
int StationCommand(const std::vector<std::string>& args, const std::string& folder = {});
int InfoCommand(const std::vector<std::string>& args);
int PortsCommand(const std::vector<std::string>& args);
int DemoCommand(const std::vector<std::string>& args);
int HistoryCommand(const std::vector<std::string>& args);

}  // namespace zolt::cli
