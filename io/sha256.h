// SHA-256 (FIPS 180-4) of a byte string: the fingerprint that ties a calibration file to the
// setting file saved with it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zolt {

[[nodiscard]] std::array<std::uint8_t, 32> Sha256(std::string_view bytes);

// The digest in 64 lower-case hexadecimal digits.
[[nodiscard]] std::string Sha256Hex(std::string_view bytes);

}  // namespace zolt
