// `zolt ports`: the machine's serial ports with what identifies the device behind each, so
// that an operator can name a port by its adapter or its hub socket rather than by the number
// the kernel happened to give it.
#pragma once

#include <string>
#include <vector>

#include "job/port_list.h"

namespace zolt::cli {

// What an operator who may not open a port is told, with the fix; `group` is the device's
// group ("dialout" when unknown).
std::string PermissionAdvice(const std::string& group);

// The listing: one row per port (its state in the port list's words, or "No permission"),
// then an indented line for each stable name and the USB identity found, then the advice for
// ports the user may not open.
std::string FormatPortList(const std::vector<PortEntry>& rows);

}  // namespace zolt::cli
