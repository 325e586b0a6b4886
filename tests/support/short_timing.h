// The standard timings for tests: every pause that only makes a job long cut to nothing, and
// every limit to a fraction of a second, so that a whole handshake takes milliseconds. A test
// sets what it looks at itself.
#pragma once

#include "link/timing.h"

namespace zolt::test {

inline Timing ShortTiming() {
    Timing t = Timing::Standard();
    t.receiveFrameLimit = Millis(200);
    t.waitReplyLimit = Millis(100);
    t.probeGap = Millis(5);
    t.bootProbeGap = Millis(60);
    t.flashDonePause = Millis(5);
    t.dataResetPause = Millis(20);
    t.threadStartGap = Millis(1);
    t.stopPause = Millis(1);
    t.calRecordGap = Millis(0);
    t.backupSettingPause = Millis(0);
    t.backupFileShowPause = Millis(0);
    t.backupBootWaitPause = Millis(0);
    t.restoreSettingPause = Millis(0);
    t.restoreDonePause = Millis(0);
    return t;
}

}  // namespace zolt::test
