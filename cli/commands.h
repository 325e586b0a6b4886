// The commands of `zolt`. Each takes the words after its name and returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace zolt::cli {

int RunCommand(const std::vector<std::string>& args);
int InfoCommand(const std::vector<std::string>& args);
int PortsCommand(const std::vector<std::string>& args);
int DemoCommand(const std::vector<std::string>& args);

}  // namespace zolt::cli
