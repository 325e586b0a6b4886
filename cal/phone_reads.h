// Reading a phone's calibration back: one catalogue page, and the setting that a backup saves.
// The backup reads with these, and so does a restore that checks what it wrote. Both run on
// the line's worker thread and let the link's exceptions through.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cal/cal_catalog.h"
#include "link/link_session.h"

namespace zolt {

// What reading a page came to: its data, or why there are none.
struct PageReading {
    enum class Outcome { Read, NoReply, NotSent } outcome = Outcome::NoReply;
    std::vector<std::uint8_t> data;  // entry.bytes bytes, when read
};

// Requests `entry`'s page, at most `attempts` times, until its reply comes. Each request goes
// out after the input queued on the line has been dropped, and its reply is awaited one
// receive limit from the send: frames that are not its reply (an earlier page's reply
// delivered twice or late, chatter) are passed over without lengthening the wait. The reply
// counts only when it is intact, echoes the request whole (ETS id, database, segment, offset,
// byte count) and holds all the data. A request that cannot be sent ends the reading at once.
[[nodiscard]] PageReading ReadCalPage(LinkSession& line, const CalMessageEntry& entry, int attempts);

// Reads the setting that the restore writes back (Type 18, id 3), asking again a receive
// limit after each request that brought no answer, whatever else the phone says meanwhile.
// Returns nothing when the phone has not answered within timing.phoneWait (the status text
// then says so); waits without end when that is endless, until the line is stopped. The
// backup passes over the first frame after its first request unseen, as it always has: if
// that was the answer, the request goes again.
[[nodiscard]] std::optional<std::uint8_t> ReadCalSetting(LinkSession& line, bool passOverFirstFrame);

}  // namespace zolt
