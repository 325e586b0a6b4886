// Boot loading, erase, block-by-block writing and the flash task runners, against a scripted
// phone: what goes on the wire, how each kind of reply steers the write, and Stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "link/ets_frame.h"
#include "link/flash.h"
#include "job/flash_runners.h"
#include "link/link_session.h"
#include "support/scripted_device.h"
#include "support/scripted_phone.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Bytes;
using test::ScriptedDevice;

using test::BlockOf;
using test::IsFlashRequest;

Bytes FlashReply(std::uint32_t block, std::uint8_t status) { return test::FlashReplyFrame(block, status); }

const Bytes PROBE = {0x00, 0x00, 0x01};
const Bytes BOOT_ANSWER = {0xE0, 0x00};
const Bytes CONFIRM = {0xE0, 0x00};
const Bytes RESET = {0xDC, 0x00};

Bytes Pattern(std::size_t size) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return data;
}

struct FlashFixture : ::testing::Test {
    LinkSession line;
    ScriptedDevice device{line.stop};
    test::ScriptedPhone phone{device, true};

    void SetUp() override {
        line.device = &device;
        line.timing.waitReplyLimit = 2ms;
        line.timing.bootProbeGap = 2ms;
        line.timing.flashDonePause = 1ms;
        line.timing.dataResetPause = 2ms;
        line.timing.eraseReplyLimit = 50ms;
    }
    // FlashWrite as after an accepted erase.
    int Write(int type, const Bytes& section) {
        line.flashBlock = 2;
        return line.FlashWrite(type, section);
    }
    std::string Status() const { return line.statusText.Get(); }
};

TEST(ImageTypeName, NamesTheSevenTypesAndNothingElse) {
    const char* names[] = {"Boot", "CP", "DSPM", "DSPV", "All", "4M", "1M Data"};
    for (int code = 0; code < 7; ++code) EXPECT_EQ(ImageTypeName(code), names[code]);
    for (int code : {7, 8, 255, -1, INT_MIN, INT_MAX}) EXPECT_FALSE(ImageTypeName(code)) << code;
}

TEST_F(FlashFixture, InvalidTypeFailsEraseAndWriteWithoutSending) {
    for (int type : {7, 8, -1}) {
        EXPECT_EQ(line.FlashErase(type), RESULT_FAIL);
        EXPECT_EQ(Status(), "Flash type error!");
        EXPECT_EQ(Write(type, Pattern(10)), RESULT_FAIL);
        EXPECT_EQ(Status(), "Flash type error!");
    }
    EXPECT_TRUE(device.writes().empty());
}

TEST_F(FlashFixture, SectionIsCutIntoBlocksOf350BytesAndTheLastTakesTheRest) {
    struct Case {
        std::size_t size;
        std::vector<std::uint32_t> blocks;
        std::size_t lastBlockBytes;
    };
    const Case cases[] = {{700, {2, 3}, 350}, {701, {2, 3, 4}, 1}, {1, {2}, 1},
                          {350, {2}, 350},    {351, {2, 3}, 1},    {0, {}, 0}};
    for (const Case& c : cases) {
        phone.requests.clear();
        phone.flash.clear();
        const Bytes section = Pattern(c.size);
        ASSERT_EQ(Write(IMAGE_CP, section), RESULT_OK) << c.size;
        EXPECT_EQ(Status(), "Flash writing success.(CP)");
        EXPECT_EQ(line.flashBlockCount, static_cast<std::int32_t>(c.blocks.size())) << c.size;
        EXPECT_EQ(phone.WrittenBlocks(), c.blocks) << c.size;
        if (c.size > 0) {
            EXPECT_EQ(phone.requests.back().size(), 12 + c.lastBlockBytes) << c.size;
            EXPECT_EQ(phone.flash[IMAGE_CP], section) << c.size;
        }
        EXPECT_EQ(line.flashData, section.data());
    }
}

TEST_F(FlashFixture, WriteRequestOfBlock2IsExactOnTheWire) {
    // All FE: every data byte is escaped, and the sum (350 * 0xFE = 0x15B44) keeps its low
    // 16 bits.
    const Bytes section(400, 0xFE);
    ASSERT_EQ(Write(IMAGE_CP, section), RESULT_OK);

    Bytes body = {0xB2, 0x04, 0x02, 0x00, 0x00, 0x00, 0x01, 0x01, 0x44, 0x5B, 0x5E, 0x01};
    body.insert(body.end(), 350, 0xFE);
    const auto writes = device.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], EncodeFrame(body));
    // Block 3: the remaining 50 bytes, sum 50 * 0xFE = 0x319C, length 0x32.
    Bytes last = {0xB2, 0x04, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01, 0x9C, 0x31, 0x32, 0x00};
    last.insert(last.end(), 50, 0xFE);
    EXPECT_EQ(writes[1], EncodeFrame(last));
}

TEST_F(FlashFixture, EraseRequestAndItsStatusTexts) {
    std::string textWhileErasing;
    phone.script = [&](const Bytes&) -> std::optional<std::vector<Bytes>> {
        textWhileErasing = Status();
        return std::nullopt;
    };
    ASSERT_EQ(line.FlashErase(IMAGE_DATA), RESULT_OK);
    const auto writes = device.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], EncodeFrame(Bytes{0xB2, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00,
                                           0x00, 0x00, 0x00}));
    EXPECT_EQ(writes[0][1], 12);  // L
    EXPECT_EQ(textWhileErasing, "Flash erasing...(1M Data)");
    EXPECT_EQ(Status(), "Flash erase success.(1M Data)");
    EXPECT_EQ(line.flashBlock, 2u);
}

// The erase reply decides where the write starts; any reply counts as a successful erase.
TEST_F(FlashFixture, EraseReplyDecidesTheFirstBlock) {
    struct Case {
        const char* what;
        Bytes reply;  // on the wire
        std::uint32_t flashBlock;
        int writeResult;
    };
    const Case cases[] = {
        {"accepted", FlashReply(1, 0), 2, RESULT_OK},
        {"send block 1 again", FlashReply(1, 1), 1, RESULT_FAIL},
        {"send block 2", FlashReply(2, 1), 2, RESULT_OK},
        {"send block 3", FlashReply(3, 1), 3, RESULT_OK},
        {"not B2 04", EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00}), 1, RESULT_FAIL},
        {"unknown status", FlashReply(1, 2), 1, RESULT_FAIL},
        {"B2 04 too short for a status", EncodeFrame(Bytes{0xB2, 0x04, 0x01, 0x00}), 1, RESULT_FAIL},
    };
    for (const Case& c : cases) {
        phone.requests.clear();
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (IsFlashRequest(body, 0x00)) return std::vector<Bytes>{c.reply};
            return std::nullopt;
        };
        ASSERT_EQ(line.FlashErase(IMAGE_CP), RESULT_OK) << c.what;
        EXPECT_EQ(Status(), "Flash erase success.(CP)") << c.what;
        EXPECT_EQ(line.flashBlock, c.flashBlock) << c.what;

        EXPECT_EQ(line.FlashWrite(IMAGE_CP, Pattern(700)), c.writeResult) << c.what;
        if (c.writeResult == RESULT_FAIL) {
            EXPECT_EQ(Status(), "Flash Erase error!") << c.what;
            EXPECT_EQ(phone.requests.size(), 1u) << c.what;  // nothing but the erase was sent
        }
    }
}

TEST_F(FlashFixture, PhoneMaySendTheToolBackOrAheadByBlockNumber) {
    // After block 2 the phone asks for block 5, then for block 3, then accepts on.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> answers = {{5, 1}, {3, 1}};
    phone.script = [&](const Bytes&) -> std::optional<std::vector<Bytes>> {
        if (phone.requests.size() == 1 || answers.empty()) return std::nullopt;
        auto [block, status] = answers.front();
        answers.erase(answers.begin());
        return std::vector<Bytes>{FlashReply(block, status)};
    };
    const Bytes section = Pattern(2000);  // blocks 2 to 7
    ASSERT_EQ(Write(IMAGE_CP, section), RESULT_OK);
    EXPECT_EQ(phone.WrittenBlocks(), (std::vector<std::uint32_t>{2, 3, 5, 3, 4, 5, 6, 7}));
    // The request for block 5 carries the section bytes from offset 1050.
    const Bytes& block5 = phone.requests[2];
    EXPECT_EQ(Bytes(block5.begin() + 12, block5.end()),
              Bytes(section.begin() + 1050, section.begin() + 1400));
    EXPECT_EQ(phone.flash[IMAGE_CP], section);
}

TEST_F(FlashFixture, SilentPhoneGetsBlock2ExactlyAHundredTimesThenLinkError) {
    phone.script = [](const Bytes&) { return std::optional<std::vector<Bytes>>(std::vector<Bytes>{}); };
    EXPECT_EQ(Write(IMAGE_CP, Pattern(700)), RESULT_FAIL);
    EXPECT_EQ(Status(), "Link error!");
    EXPECT_EQ(phone.WrittenBlocks(), std::vector<std::uint32_t>(100, 2));
    EXPECT_EQ(line.flashAttempts, 100);
}

// Replies that cannot steer the write count as failed attempts, and the block is sent again.
TEST_F(FlashFixture, UnusableRepliesAreFailedAttempts) {
    struct Case {
        const char* what;
        Bytes reply;
    };
    Bytes corrupted = FlashReply(200, 0);  // would end a 3-block write at once
    corrupted.back() ^= 0x01;
    const Case cases[] = {
        {"time-out frame on the wire", Bytes(EtsFrame::TIMEOUT_FRAME, EtsFrame::TIMEOUT_FRAME + 5)},
        {"other id", EncodeFrame(Bytes{0xB2, 0x05, 0x03, 0x00, 0x00, 0x00, 0x00})},
        {"unknown status", FlashReply(200, 7)},
        {"bad checksum", corrupted},
        {"too short", EncodeFrame(Bytes{0xB2, 0x04, 0xC8, 0x00})},
        {"boot loader answer", EncodeFrame(BOOT_ANSWER)},
    };
    for (const Case& c : cases) {
        phone.requests.clear();
        phone.flash.clear();
        int bad = 0;
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            // The first two requests for block 3 get the unusable reply.
            if (BlockOf(body) == 3 && bad < 2) {
                ++bad;
                return std::vector<Bytes>{c.reply};
            }
            return std::nullopt;
        };
        const Bytes section = Pattern(1000);
        ASSERT_EQ(Write(IMAGE_BOOT, section), RESULT_OK) << c.what;
        EXPECT_EQ(phone.WrittenBlocks(), (std::vector<std::uint32_t>{2, 3, 3, 3, 4})) << c.what;
        EXPECT_EQ(phone.flash[IMAGE_BOOT], section) << c.what;
    }
}

TEST_F(FlashFixture, AnAcceptedBlockRestartsTheAttemptCount) {
    // Every block is answered only at its 60th attempt: 60 * 3 attempts in all, but never 100
    // since the last accepted block.
    int unanswered = 0;
    phone.script = [&](const Bytes&) -> std::optional<std::vector<Bytes>> {
        if (++unanswered < 60) return std::vector<Bytes>{};
        unanswered = 0;
        return std::nullopt;
    };
    EXPECT_EQ(Write(IMAGE_CP, Pattern(1000)), RESULT_OK);
    EXPECT_EQ(phone.WrittenBlocks().size(), 180u);
}

TEST_F(FlashFixture, FailureTextDependsOnAttemptsSinceTheLastAcceptedBlock) {
    // Block 2 is accepted; block 3 goes unanswered `silent` times; then the port closes.
    struct Case {
        int silent;
        const char* text;
    };
    for (const Case& c : {Case{0, "Flash write error!"}, Case{1, "Flash write error!"},
                          Case{2, "Link error!"}, Case{5, "Link error!"}}) {
        phone.requests.clear();
        device.closed = false;
        int block3 = 0;
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (BlockOf(body) == 2) {
                if (c.silent == 0) device.closed = true;
                return std::nullopt;
            }
            if (++block3 >= c.silent) device.closed = true;
            return std::vector<Bytes>{};
        };
        EXPECT_EQ(Write(IMAGE_CP, Pattern(1000)), RESULT_FAIL) << c.silent;
        EXPECT_EQ(Status(), c.text) << c.silent;
    }
    // A send failure before any reply at all.
    device.closed = true;
    EXPECT_EQ(Write(IMAGE_CP, Pattern(1000)), RESULT_FAIL);
    EXPECT_EQ(Status(), "Flash write error!");
}

// A block past the end finishes the write; one whose position is negative in 32 bits fails
// it, however the phone's block number got there.
TEST_F(FlashFixture, BlockNumberPastTheEndFinishesTheWriteUnlessItsPositionWraps) {
    struct Case {
        std::uint32_t block;
        std::uint8_t status;
        int result;
        const char* text;
    };
    const Case cases[] = {
        {100, 1, RESULT_OK, "Flash writing success.(CP)"},
        {0x00C00000, 1, RESULT_OK, "Flash writing success.(CP)"},  // wraps to 109051204
        {0x00800000, 1, RESULT_FAIL, "Flash Erase error!"},        // wraps negative
        {1, 1, RESULT_FAIL, "Flash Erase error!"},                 // a phone that was never erased
        {0xFFFFFFFF, 1, RESULT_FAIL, "Flash Erase error!"},
    };
    for (const Case& c : cases) {
        phone.requests.clear();
        phone.script = [&](const Bytes&) {
            return std::optional<std::vector<Bytes>>(std::vector<Bytes>{FlashReply(c.block, c.status)});
        };
        EXPECT_EQ(Write(IMAGE_CP, Pattern(1000)), c.result) << c.block;
        EXPECT_EQ(Status(), c.text) << c.block;
        EXPECT_EQ(phone.WrittenBlocks(), (std::vector<std::uint32_t>{2})) << c.block;
    }
}

// A reply that comes after its attempt timed out answers the earlier request, not the next:
// the write must not fall one reply behind and send every later block twice.
TEST_F(FlashFixture, LateReplyDoesNotPutTheWriteOneReplyBehind) {
    bool lateDone = false;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (!IsFlashRequest(body, 0x01) || BlockOf(body) != 3 || lateDone) return std::nullopt;
        if (std::count_if(phone.requests.begin(), phone.requests.end(),
                          [](const Bytes& b) { return IsFlashRequest(b, 0x01) && BlockOf(b) == 3; }) == 1) {
            return std::vector<Bytes>{};  // the first request's reply is late...
        }
        lateDone = true;  // ...and comes just before the reply to the request sent again
        return std::vector<Bytes>{FlashReply(3, 0), FlashReply(3, 0)};
    };
    const Bytes section = Pattern(5 * 350);
    ASSERT_EQ(Write(IMAGE_CP, section), RESULT_OK);
    EXPECT_EQ(phone.WrittenBlocks(), (std::vector<std::uint32_t>{2, 3, 3, 4, 5, 6}));

    // The late reply may also still be queued when the next request goes out.
    phone.requests.clear();
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsFlashRequest(body, 0x01) && BlockOf(body) == 3) {
            return std::vector<Bytes>{FlashReply(3, 0), FlashReply(3, 0)};
        }
        return std::nullopt;
    };
    ASSERT_EQ(Write(IMAGE_CP, section), RESULT_OK);
    EXPECT_EQ(phone.WrittenBlocks(), (std::vector<std::uint32_t>{2, 3, 4, 5, 6}));

    // A "send block 3 again" that the line delivered twice: the copy is dropped before block 3
    // goes out again, not taken for the answer to it.
    phone.requests.clear();
    bool asked = false;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (!IsFlashRequest(body, 0x01) || BlockOf(body) != 3 || asked) return std::nullopt;
        asked = true;
        return std::vector<Bytes>{FlashReply(3, 1), FlashReply(3, 1)};
    };
    ASSERT_EQ(Write(IMAGE_CP, section), RESULT_OK);
    EXPECT_EQ(phone.WrittenBlocks(), (std::vector<std::uint32_t>{2, 3, 3, 4, 5, 6}));
}

TEST_F(FlashFixture, DownloadPercentFollowsTheWrite) {
    EXPECT_EQ(line.DownloadPercent(), 0);
    line.flashBlock = 57;  // a count of 0 means no write, whatever the block
    EXPECT_EQ(line.DownloadPercent(), 0);

    std::vector<int> seen;
    phone.script = [&](const Bytes&) -> std::optional<std::vector<Bytes>> {
        seen.push_back(line.DownloadPercent());
        return std::nullopt;
    };
    ASSERT_EQ(Write(IMAGE_CP, Pattern(3500)), RESULT_OK);  // 10 blocks
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    EXPECT_EQ(line.DownloadPercent(), 110);

    seen.clear();
    ASSERT_EQ(Write(IMAGE_CP, Pattern(1001)), RESULT_OK);  // 3 blocks: 100/3 truncated
    EXPECT_EQ(seen.front(), 33);

    // Extreme counters a phone or another task could leave: no overflow.
    line.flashBlockCount = 1;
    line.flashBlock = 0xFFFFFFFF;
    EXPECT_EQ(line.DownloadPercent(), INT_MAX);
    line.flashBlock = 0;
    EXPECT_EQ(line.DownloadPercent(), -100);
}

TEST_F(FlashFixture, DownloadPercentReadFromAnotherThreadWhileWriting) {
    std::atomic<bool> done{false};
    std::vector<int> seen;
    std::thread reader([&] {
        while (!done.load()) {
            seen.push_back(line.DownloadPercent());
            std::this_thread::sleep_for(50us);
        }
    });
    const int result = Write(IMAGE_CP, Pattern(20 * 350));
    done = true;
    reader.join();
    EXPECT_EQ(result, RESULT_OK);
    for (int percent : seen) EXPECT_TRUE(percent == 0 || (percent >= 5 && percent <= 105)) << percent;
}

// Probes go one per gap, also after an echo, so that a phone that missed the handshake sees
// its pause again, and after silence, so that one attached late or whose answer was lost is
// asked again.
TEST_F(FlashFixture, BootLoadProbesOncePerGapUntilTheBootLoaderAnswersThenConfirms) {
    // First probe: no answer. Second: the running firmware's echo. Third: E0 00 with a bad
    // checksum. Fourth: the boot loader.
    const Bytes badAnswer = {0xFE, 0x02, 0x00, 0xE0, 0x00, 0x1F};
    int probes = 0;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body != PROBE) return std::vector<Bytes>{};
        switch (++probes) {
            case 1: return std::vector<Bytes>{};
            case 2: return std::vector<Bytes>{EncodeFrame(PROBE)};
            case 3: return std::vector<Bytes>{badAnswer};
            default: return std::nullopt;
        }
    };
    line.timing.bootProbeGap = 30ms;
    ASSERT_EQ(line.BootLoad(), RESULT_OK);
    EXPECT_EQ(Status(), "Boot load success.");
    EXPECT_EQ(phone.requests, (std::vector<Bytes>{PROBE, PROBE, PROBE, PROBE, CONFIRM}));
    for (int i = 1; i < 4; ++i) EXPECT_GE(phone.times[i] - phone.times[i - 1], 30ms) << i;
    EXPECT_EQ(device.writes()[0], (Bytes{0xFE, 0x03, 0x00, 0x00, 0x00, 0x01, 0xFC}));
    EXPECT_EQ(device.writes()[4], (Bytes{0xFE, 0x02, 0x00, 0xE0, 0x00, 0x1E}));
}

TEST_F(FlashFixture, BootLoadOnAClosedPortFailsAtTheConfirm) {
    device.closed = true;
    device.Queue(EncodeFrame(BOOT_ANSWER));
    EXPECT_EQ(line.BootLoad(), RESULT_FAIL);
    EXPECT_EQ(Status(), "Boot load failed.");
}

TEST_F(FlashFixture, ResetPhoneSendsTwoResetsAndReportsAFailedSend) {
    line.ResetPhone();
    EXPECT_EQ(phone.requests, (std::vector<Bytes>{RESET, RESET}));
    EXPECT_EQ(Status(), "");
    device.closed = true;
    line.ResetPhone();
    EXPECT_EQ(Status(), "Reset phone error.");
}

// --- Task runners ---

struct RunnerFixture : FlashFixture {
    Config config;
    Bytes file = Pattern(5000);
    RunnerFixture() {
        config.bootStart = 0;
        config.bootSize = 701;
        config.cpStart = 701;
        config.cpSize = 2100;
        config.dataStart = 4000;
        config.dataSize = 1000;
    }
    Bytes Part(std::int32_t start, std::int32_t size) const {
        return Bytes(file.begin() + start, file.begin() + start + size);
    }
    bool SentProbe() const { return !phone.requests.empty() && phone.requests[0] == PROBE; }
};

TEST_F(RunnerFixture, UpdateBootLoadsBootErasesAndWritesTheBootSection) {
    ASSERT_EQ(RunUpdateBoot(line, config, file), RESULT_OK);
    EXPECT_TRUE(SentProbe());
    EXPECT_EQ(phone.flash[IMAGE_BOOT], Part(0, 701));
    EXPECT_EQ(Status(), "Flash writing success.(Boot)");
    EXPECT_EQ(line.flashBlockCount, 3);  // kept after Update Boot
}

TEST_F(RunnerFixture, BootLoadOnlyForTheFirstTaskOfCpAndData) {
    for (bool first : {true, false}) {
        phone.requests.clear();
        ASSERT_EQ(RunUpdateCp(line, config, file, first), RESULT_OK);
        EXPECT_EQ(SentProbe(), first);
        EXPECT_EQ(phone.flash[IMAGE_CP], Part(701, 2100));
        EXPECT_EQ(line.flashBlockCount, 0);

        phone.requests.clear();
        ASSERT_EQ(RunUpdateData(line, config, file, first), RESULT_OK);
        EXPECT_EQ(SentProbe(), first);
        EXPECT_EQ(phone.flash[IMAGE_DATA], Part(4000, 1000));
        EXPECT_EQ(line.flashBlockCount, 0);
    }
}

TEST_F(RunnerFixture, UpdateCpClearsTheBlockCountAlsoAfterAFailure) {
    phone.script = [](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsFlashRequest(body, 0x00)) return std::vector<Bytes>{FlashReply(1, 1)};
        return std::nullopt;
    };
    line.flashBlockCount = 9;
    EXPECT_EQ(RunUpdateCp(line, config, file, false), RESULT_FAIL);
    EXPECT_EQ(Status(), "Flash Erase error!");
    EXPECT_EQ(line.flashBlockCount, 0);
}

TEST_F(RunnerFixture, UpdateDataResetsAndPausesAlsoAfterAFailedWrite) {
    line.timing.dataResetPause = 40ms;
    for (bool fail : {false, true}) {
        phone.requests.clear();
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (fail && IsFlashRequest(body, 0x01)) return std::vector<Bytes>{};
            return std::nullopt;
        };
        const int result = RunUpdateData(line, config, file, false);
        const auto returned = Clock::now();
        EXPECT_EQ(result, fail ? RESULT_FAIL : RESULT_OK);
        EXPECT_EQ(Status(), fail ? "Link error!" : "Flash writing success.(1M Data)");
        ASSERT_GE(phone.requests.size(), 2u);
        const std::size_t n = phone.requests.size();
        EXPECT_EQ(phone.requests[n - 2], RESET);
        EXPECT_EQ(phone.requests[n - 1], RESET);
        EXPECT_GE(returned - phone.times[n - 1], 40ms) << "reported before the pause";
        EXPECT_EQ(line.flashBlockCount, 0);
    }
}

TEST_F(RunnerFixture, SectionOutsideTheFileFailsBeforeAnythingIsSent) {
    struct Case {
        std::int32_t start, size;
    };
    const Case cases[] = {{-1, 10},       {0, -1},      {4991, 10},  {5001, 0},
                          {INT_MAX, 10},  {10, INT_MAX}, {INT_MIN, 5}, {4000, 1001}};
    for (const Case& c : cases) {
        Config bad = config;
        bad.bootStart = bad.cpStart = bad.dataStart = c.start;
        bad.bootSize = bad.cpSize = bad.dataSize = c.size;
        EXPECT_EQ(RunUpdateBoot(line, bad, file), RESULT_FAIL);
        EXPECT_EQ(Status(), "Boot section lies outside the image file!");
        EXPECT_EQ(RunUpdateCp(line, bad, file, true), RESULT_FAIL);
        EXPECT_EQ(Status(), "CP section lies outside the image file!");
    }
    EXPECT_TRUE(device.writes().empty());

    // Update Data resets the phone whatever became of it, a section outside the file too.
    Config bad = config;
    bad.dataSize = 5001;
    EXPECT_EQ(RunUpdateData(line, bad, file, true), RESULT_FAIL);
    EXPECT_EQ(Status(), "Data section lies outside the image file!");
    EXPECT_EQ(phone.requests, (std::vector<Bytes>{RESET, RESET}));

    // Sections ending exactly at the end of the file, or empty, are inside it.
    EXPECT_TRUE(ImageSection(file, 4000, 1000));
    EXPECT_TRUE(ImageSection(file, 5000, 0));
    EXPECT_FALSE(ImageSection({}, 0, 1));
}

TEST_F(RunnerFixture, EmptySectionIsWrittenAsDoneWithoutAnyBlock) {
    config.cpSize = 0;
    ASSERT_EQ(RunUpdateCp(line, config, file, false), RESULT_OK);
    EXPECT_EQ(Status(), "Flash writing success.(CP)");
    EXPECT_TRUE(phone.WrittenBlocks().empty());
}

// --- Stop ---

// Runs `op` and raises the line's stop from another thread after `delay`: `op` must end with
// LineStopped within 100 ms of the raise.
template <class Op>
void ExpectStoppedPromptly(LinkSession& line, Millis delay, Op op) {
    Clock::time_point raisedAt;
    std::thread stopper([&] {
        std::this_thread::sleep_for(delay);
        raisedAt = Clock::now();
        line.stop.Raise();
    });
    bool stopped = false;
    try {
        (void)op();
    } catch (const LineStopped&) {
        stopped = true;
    }
    const auto ended = Clock::now();
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_LT(ended - raisedAt, 100ms);
}

TEST_F(FlashFixture, StopEndsBootLoadWriteAndEraseWhileTheyWait) {
    line.timing.waitReplyLimit = 250ms;
    phone.script = [](const Bytes&) { return std::optional<std::vector<Bytes>>(std::vector<Bytes>{}); };
    ExpectStoppedPromptly(line, 30ms, [&] { return Write(IMAGE_CP, Pattern(700)); });
    line.stop.Clear();
    ExpectStoppedPromptly(line, 30ms, [&] { return line.FlashErase(IMAGE_CP); });
    line.stop.Clear();
    device.closed = true;  // nothing can be sent, nothing ever comes
    ExpectStoppedPromptly(line, 30ms, [&] { return line.BootLoad(); });
    EXPECT_EQ(Status(), "Timeout on message loopback!");
}

// A block reply that comes late from the section written before, or a late boot-loader
// answer, is not the erase's answer: taken for it, a block reply would start the write past
// the section's end and end it as done.
TEST_F(FlashFixture, LateBlockReplyOrBootAnswerIsNotTheErasesAnswer) {
    device.Queue(FlashReply(40, 0));  // already waiting before the erase goes out
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsFlashRequest(body, 0x00)) {
            return std::vector<Bytes>{FlashReply(57, 0), EncodeFrame(BOOT_ANSWER), FlashReply(1, 0)};
        }
        return std::nullopt;
    };
    ASSERT_EQ(line.FlashErase(IMAGE_DATA), RESULT_OK);
    EXPECT_EQ(line.flashBlock, 2u);
    // Only late replies: the erase goes unanswered and fails at its limit.
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsFlashRequest(body, 0x00)) return std::vector<Bytes>{FlashReply(57, 0), FlashReply(0xFFFFFFFF, 0)};
        return std::nullopt;
    };
    EXPECT_EQ(line.FlashErase(IMAGE_DATA), RESULT_FAIL);
    EXPECT_EQ(Status(), "Flash erase error!");
}

// An erase reply lost or cut off on the line must not hold the line for ever.
TEST_F(FlashFixture, EraseWhoseReplyNeverCompletesFailsAtItsLimit) {
    line.timing.eraseReplyLimit = 50ms;
    const Bytes whole = FlashReply(1, 0);
    const Bytes cut(whole.begin(), whole.begin() + 6);
    for (const Bytes& reply : {Bytes{}, cut}) {
        phone.script = [&](const Bytes&) { return std::optional<std::vector<Bytes>>(std::vector<Bytes>{reply}); };
        EXPECT_EQ(line.FlashErase(IMAGE_CP), RESULT_FAIL);
        EXPECT_EQ(Status(), "Flash erase error!");
    }
}

TEST_F(RunnerFixture, StopEndsThePauseAfterTheDataResets) {
    line.timing.dataResetPause = 5000ms;
    ExpectStoppedPromptly(line, 150ms, [&] { return RunUpdateData(line, config, file, false); });
    ASSERT_GE(phone.requests.size(), 2u);
    EXPECT_EQ(phone.requests.back(), RESET);  // the stop came during the pause
    EXPECT_EQ(line.flashBlockCount, 0);
}

}  // namespace
}  // namespace zolt
