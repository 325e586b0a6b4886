// The one table of waits, pauses and limits of a line. Every value the phone link and the
// task runners wait for comes from here, so that tests can run a line with shorter values.
#pragma once

#include <algorithm>
#include <chrono>

namespace zolt {

using Millis = std::chrono::milliseconds;

// When a wait ends: after a limit, or never (a negative limit). Left() is what the OS's wait
// calls take: the time remaining rounded up to whole milliseconds, 0 once the deadline has
// passed, and -1 for a wait without end.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;
    explicit Deadline(Millis limit)
        : endless_(limit.count() < 0), at_(Clock::now() + (endless_ ? Millis(0) : limit)) {}
    static Deadline Never() { return Deadline(Millis(-1)); }

    bool Endless() const { return endless_; }
    bool Passed() const { return !endless_ && Clock::now() >= at_; }
    Millis Left() const {
        if (endless_) return Millis(-1);
        const auto left = std::chrono::ceil<Millis>(at_ - Clock::now());
        return left.count() < 0 ? Millis(0) : left;
    }
    // The shorter of the time left and `most` (`most` itself for a wait without end).
    Millis LeftAtMost(Millis most) const { return endless_ ? most : std::min(Left(), most); }

private:
    bool endless_;
    Clock::time_point at_;
};

struct Timing {
    // A receive that reads frames without sending anything gives up after this long without
    // a complete frame. The phone answers a request within a few milliseconds at 115200 baud;
    // a second is what the original poll limit amounted to on a PC of its day.
    Millis receiveFrameLimit{1000};

    // A reply to a flash write block is awaited this long before the attempt counts as
    // failed. A 362-byte write request plus its reply take about 33 ms on the wire; the
    // rest is the phone's time to program a block.
    Millis waitReplyLimit{250};

    // Between two loopback probes of the file-system handshake: long enough for the phone's
    // echo of the previous probe to be on its way.
    Millis probeGap{100};

    // Between the first two loopback probes of the boot-loader handshake: the phone needs
    // about a second after its firmware hands over to the boot loader.
    Millis bootProbeGap{1000};

    // The erase reply is awaited this long. A phone erasing a large area takes seconds; a
    // reply lost or cut off on the line must not hold the line for ever.
    Millis eraseReplyLimit{60000};

    // After the last block of a section: lets the phone commit its final page before the
    // next erase or reset arrives.
    Millis flashDonePause{1000};

    // After the resets that end Update Data: the phone reboots into its new firmware.
    Millis dataResetPause{5000};

    // Between the start of two lines' workers, and after a line was stopped.
    Millis threadStartGap{10};
    Millis stopPause{10};

    // A write to the port that has not completed in this time is abandoned, as a stuck
    // driver would otherwise hold the line for ever.
    Millis writeLimit{5000};

    // A serial read asks only for bytes the driver has already queued, so it completes at
    // once; this bounds a driver that holds such a read anyway (Win32 read time-out).
    Millis serialReadLimit{1000};

    // Where the serial driver cannot signal arriving input (wine on a pseudo-terminal, for
    // one), a wait for input looks at the queue this often instead: a few bytes' time at
    // 115200 baud, far below any reply time-out.
    Millis serialPollGap{2};

    // A port that reports itself gone (a USB adapter pulled out, the far end of a
    // pseudo-terminal closed) this long, with nothing received meanwhile, fails the line's
    // operation: long enough to ride out a driver's momentary error, short enough that the
    // operator sees the lost phone at once.
    Millis portLostLimit{1000};
    // Meanwhile the line looks at the port again this often rather than in a loop: a dead
    // port must not burn a core.
    Millis portLostRecheck{20};

    // How often a front end refreshes the lines' progress and status while a job runs.
    Millis displayTick{1000};

    // How long a line waits for a phone where it would otherwise wait until it answers (the
    // boot-loader and file-system handshakes, the opening echo of a restore, the setting read
    // and write): a negative value waits without end, as a station attended by an operator
    // does; automation bounds it so that a line with no phone fails instead of hanging.
    Millis phoneWait{-1};

    // After this long at a wait for the phone, the command line's display says what the line
    // waits for and what usually helps: an operator must not stare at an endless wait.
    Millis phoneWaitHint{30000};

    // --- A phone's presence on its line ---

    // Between two presence probes, and how long each waits for its answer. Far below the
    // firmware's boot-loader gap (a lone probe, then another a gap later, is the boot-loader
    // handshake), so that asking whether a phone is there never sends it into its boot loader.
    Millis presenceProbeGap{200};

    // A phone that has answered no presence probe for this long is gone: taken off a fixed
    // serial port, or switched off.
    Millis phoneGoneSilence{2000};

    // How often a line whose port has vanished (a USB adapter pulled out) tries to open it
    // again by its name: a failed open costs next to nothing.
    Millis portReturnCheck{100};

    // Attempts of one flash block (time-outs and unusable replies) before the write fails.
    int flashAttemptLimit{100};

    // --- Calibration backup, restore and scripts ---

    // After each page a backup has read and each record a restore or script has written:
    // the phone commits the page before it is asked for the next one. A restore or script
    // reads and drops what comes meanwhile (an acceptance the line delivered twice), which
    // would otherwise pass for the next record's acceptance.
    Millis calRecordGap{100};

    // Between the last page read and the setting read of a backup: the phone finishes the
    // page reads before it answers a file-system request.
    Millis backupSettingPause{2000};

    // How long the calibration file's name stays on the status line after a backup, so that
    // the operator can note where it went.
    Millis backupFileShowPause{8000};

    // After a backup has announced the boot load that follows it: the phone leaves its
    // file-system session before the flash task probes for the boot loader.
    Millis backupBootWaitPause{3000};

    // Requests of one page in all, the first included, before the backup gives up: a phone
    // that stops answering must not hold the line for ever.
    int calPageAttemptLimit{100};

    // Between the closing request of a restore and its setting write: the phone commits the
    // restored pages to flash before the setting is written.
    Millis restoreSettingPause{5000};

    // After a restore, whatever its outcome: lets the phone settle before the next task.
    Millis restoreDonePause{1000};

    // Sends of one record in all, the first included (after refusals, time-outs or too many
    // unrecognised replies), before the restore or script gives up on it.
    int calRecordResendLimit{100};

    // Times a page (or the setting) that a restore or script reads back different is written
    // again before the run fails: a phone that keeps storing something else is faulty.
    int calRewriteLimit{3};

    // Unrecognised replies to database writes, counted over a whole restore, after which the
    // record being written is sent again: the phone may have missed it among its chatter.
    int calUnrecognisedReplyLimit{50};

    // --- The history on a shared server ---

    // A station that cannot reach its history server gives up on it after this long (libpq
    // counts whole seconds, at least 2): entries wait in the station's spool meanwhile.
    Millis historyConnectLimit{5000};

    // After the server failed, entries go straight to the spool for this long before the
    // server is tried again: a dead server costs one connect limit per gap, not per phone.
    Millis historyRetryGap{10000};

    // The standard values; a test copies them and shortens what it needs.
    static const Timing& Standard();
};

}  // namespace zolt
