// The commands of `zolt`. Each takes the words after its name and returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace zolt::cli {

// `folder` is where the page catalogue and the update flag's "ZOLT.ini" are read from: the
// current directory when empty.
int RunCommand(const std::vector<std::string>& args, const std::string& folder = {});
int InfoCommand(const std::vector<std::string>& args);
int PortsCommand(const std::vector<std::string>& args);
int DemoCommand(const std::vector<std::string>& args);

}  // namespace zolt::cli
