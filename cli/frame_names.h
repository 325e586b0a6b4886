// What a traced frame is, in a technician's words: "probe", "flash write block 12 type CP (350
// bytes)", "page reply db 1 seg 4 offset 17 32 bytes", "refused". Read from the frame's bytes
// alone, so that any trace line can be understood without the lines before it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/frame_trace.h"

namespace zolt::cli {

// The name of one frame as a line traces it: unescaped, from its start byte on. Requests are
// named by their id and shape, replies likewise; a request of 8 body bytes is always a page
// read (its id is the catalogue's, whatever that is). Numbers are decimal, as in the script and
// catalogue files, except setting values (hexadecimal, as scripts write data). A received frame
// that is cut short or fails its checksum says so after its name; one that matches nothing is
// "unknown". Never fails, whatever the bytes.
std::string FrameName(FrameDirection direction, std::span<const std::uint8_t> frame);

}  // namespace zolt::cli
