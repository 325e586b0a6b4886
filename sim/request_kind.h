// Telling the tool's requests apart as a phone in a given mode sees them, and the names by
// which fault rules are written on zolt-phone's command line.
#pragma once

#include <optional>
#include <string_view>

#include "sim/phone_options.h"
#include "sim/phone_state.h"

namespace zolt::sim {

// The kind of `request`, arriving now in the phone's present mode.
RequestKind Classify(const Request& request, const PhoneState& state, const PhoneOptions& options);

// Whether requests of `kind` are also of the kind Write: database and setting writes, but
// for the access request.
bool IsWrite(RequestKind kind);

// Whether the firmware hands over to its boot loader on this probe: the tool's boot-loader
// handshake is a lone probe, a pause, and another probe, while the file-system handshake
// sends its probes in a burst. So: a probe that comes at least bootGap after a probe that
// itself came at least bootGap after anything before it (or first).
bool IsBootHandshakeProbe(const Request& probe, const PhoneState& state, const PhoneOptions& options);

// Names as on the command line ("page", "late", ...); nullopt for an unknown name.
std::string_view RequestKindName(RequestKind kind);
std::optional<RequestKind> ParseRequestKind(std::string_view name);
std::string_view FaultActionName(FaultAction action);
std::optional<FaultAction> ParseFaultAction(std::string_view name);

}  // namespace zolt::sim
