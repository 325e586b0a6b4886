// What every serial port backend promises, tested on two connected ports: opening and closing
// rules, exclusive use, non-waiting reads, intact bytes both ways, and waits that sleep and
// wake on data, on their limit and on the stop signal.
//
// The ports are ZOLT_TEST_PORT_A and ZOLT_TEST_PORT_B when both are set (a null-modem pair,
// or under wine two COM ports linked to a pseudo-terminal pair); otherwise the platform's own
// pair where it has one (pseudo-terminals on POSIX), else the pair tests skip.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "link/link_session.h"
#include "link/serial_port.h"
#include "link/stop_signal.h"
#include "support/serial_test_platform.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

int OpenPort(SerialPort& port, const std::string& name) {
    return port.Open(name, 115200, 8, SERIAL_PARITY_NONE, false, false, false);
}

Millis Since(Clock::time_point start) {
    return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

// Reads until `count` bytes have come or `limit` has passed.
Bytes ReadFor(SerialPort& port, std::size_t count, Millis limit) {
    Bytes got;
    std::vector<std::uint8_t> buffer(count);
    const auto deadline = Clock::now() + limit;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
        if (left.count() <= 0 || port.WaitReadable(left) != WaitResult::Ready) break;
        const int n = port.ReadData(buffer.data(), static_cast<int>(count - got.size()));
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    return got;
}

// Throws away whatever earlier traffic left queued, until the line has been quiet a while.
void Drain(SerialPort& port) {
    std::uint8_t buffer[4096];
    for (int round = 0; round < 10000 && port.WaitReadable(100ms) == WaitResult::Ready; ++round) {
        port.ReadData(buffer, sizeof buffer);
    }
}

struct SerialContract : ::testing::Test {
    std::unique_ptr<test::NullModem> modem;  // declared first: outlives the ports on it
    std::string nameA, nameB;
    SerialPort a, b;

    void SetUp() override {
        const char* envA = std::getenv("ZOLT_TEST_PORT_A");
        const char* envB = std::getenv("ZOLT_TEST_PORT_B");
        if (envA && envB && *envA && *envB) {
            nameA = envA;
            nameB = envB;
        } else {
            modem = test::NullModem::Create();
            if (!modem) GTEST_SKIP() << "no connected ports: set ZOLT_TEST_PORT_A and ZOLT_TEST_PORT_B";
            nameA = modem->PortA();
            nameB = modem->PortB();
        }
        ASSERT_EQ(OpenPort(a, nameA), 1) << nameA << ": " << a.LastErrorText();
        ASSERT_EQ(OpenPort(b, nameB), 1) << nameB << ": " << b.LastErrorText();
        Drain(a);
        Drain(b);
    }

    // Sends from one port and expects exactly these bytes at the other.
    void ExpectCrossing(SerialPort& from, SerialPort& to, const Bytes& bytes) {
        ASSERT_EQ(from.WriteData(bytes.data(), static_cast<int>(bytes.size())), 1);
        EXPECT_EQ(ReadFor(to, bytes.size(), 5s), bytes);
    }
};

TEST_F(SerialContract, OpenOnAnOpenPortFailsAndLeavesItWorking) {
    EXPECT_EQ(OpenPort(a, nameA), 0);
    EXPECT_EQ(a.LastError(), SerialError::AlreadyOpen);
    EXPECT_EQ(OpenPort(a, nameB), 0);
    EXPECT_TRUE(a.IsOpen());
    EXPECT_EQ(a.Name(), nameA);
    ExpectCrossing(a, b, {0x11, 0x22});
    ExpectCrossing(b, a, {0x33});
}

TEST_F(SerialContract, CloseTellsWhetherItClosedAndAClosedPortOpensAgain) {
    EXPECT_EQ(a.Close(), 1);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(a.Close(), 0);

    const std::uint8_t byte = 0x5A;
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(a.SendData(&byte, 1), -1);
    EXPECT_EQ(a.WriteData(&byte, 1), 0);
    EXPECT_EQ(a.ReadData(buffer, 4), 0);
    EXPECT_EQ(a.WaitReadable(10ms), WaitResult::Failed);

    ASSERT_EQ(OpenPort(a, nameA), 1) << a.LastErrorText();
    ExpectCrossing(a, b, {0x01, 0x02, 0x03});
    ExpectCrossing(b, a, {0x04});
}

TEST_F(SerialContract, PortHeldByAnotherIsRefusedAsAccessDenied) {
    SerialPort second;
    EXPECT_EQ(OpenPort(second, nameA), 0);
    EXPECT_EQ(second.LastError(), SerialError::AccessDenied) << second.LastErrorText();
    EXPECT_FALSE(second.IsOpen());
    EXPECT_NE(second.LastSystemError(), 0);

    LinkSession line;
    EXPECT_EQ(line.OpenLink(nameA, 115200), LINK_ACCESS_DENIED);

    // The holder keeps working, and once it lets go the port can be had.
    ExpectCrossing(a, b, {0x42});
    a.Close();
    EXPECT_EQ(OpenPort(second, nameA), 1) << second.LastErrorText();
}

TEST_F(SerialContract, ReadDataTakesOnlyWhatIsQueuedAndNeverWaits) {
    std::uint8_t buffer[800];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    const auto start = Clock::now();
    EXPECT_EQ(a.ReadData(buffer, 800), 0);
    EXPECT_LT(Since(start), 500ms);
    EXPECT_EQ(buffer[0], 0xAA);

    const Bytes five = {1, 2, 3, 4, 5};
    ASSERT_EQ(b.WriteData(five.data(), 5), 1);
    ASSERT_EQ(a.WaitReadable(5s), WaitResult::Ready);
    // On a real line the five bytes trickle in over half a millisecond.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(a.ReadData(buffer, 800), 5);
    EXPECT_EQ(Bytes(buffer, buffer + 5), five);
    for (int i = 5; i < 800; ++i) ASSERT_EQ(buffer[i], 0xAA) << "byte " << i << " was touched";

    // Fewer than queued: the rest waits for the next read.
    ASSERT_EQ(b.WriteData(five.data(), 5), 1);
    ASSERT_EQ(a.WaitReadable(5s), WaitResult::Ready);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(a.ReadData(buffer, 2), 2);
    EXPECT_EQ(a.ReadData(buffer + 2, 800), 3);
    EXPECT_EQ(Bytes(buffer, buffer + 5), five);
    EXPECT_EQ(a.ReadData(buffer, 800), 0);
}

TEST_F(SerialContract, EveryByteValueAndABurstOfFourKibibytesArriveIntactAndInOrder) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    ExpectCrossing(a, b, all);
    ExpectCrossing(b, a, all);

    Bytes burst(4096);
    std::uint32_t x = 12345;
    for (auto& byte : burst) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(x >> 16);
    }
    // Written from a thread of its own: a real line drains at its own speed, and the
    // receiver must be reading while it does.
    int written = -1;
    std::thread writer([&] { written = a.WriteData(burst.data(), static_cast<int>(burst.size())); });
    const Bytes got = ReadFor(b, burst.size(), 10s);
    writer.join();
    EXPECT_EQ(written, 1);
    EXPECT_TRUE(got == burst) << "the burst arrived changed (" << got.size() << " bytes)";
}

TEST_F(SerialContract, WaitReadableWakesOnDataAndTimesOutOnSilence) {
    EXPECT_EQ(a.WaitReadable(0ms), WaitResult::TimedOut);

    auto start = Clock::now();
    EXPECT_EQ(a.WaitReadable(100ms), WaitResult::TimedOut);
    EXPECT_GE(Since(start), 80ms);  // timer granularity may end a wait a tick early
    EXPECT_LT(Since(start), 3s);

    std::thread sender([&] {
        std::this_thread::sleep_for(50ms);
        const std::uint8_t byte = 0x7E;
        b.WriteData(&byte, 1);
    });
    start = Clock::now();
    EXPECT_EQ(a.WaitReadable(Millis(-1)), WaitResult::Ready);
    EXPECT_LT(Since(start), 5s);
    sender.join();
    // Input that is queued but not yet read keeps the port readable.
    EXPECT_EQ(a.WaitReadable(0ms), WaitResult::Ready);
    EXPECT_EQ(ReadFor(a, 1, 1s), Bytes{0x7E});
    EXPECT_EQ(a.WaitReadable(50ms), WaitResult::TimedOut);
}

TEST_F(SerialContract, StopSignalEndsAWaitAtOnce) {
    StopSignal stop;
    a.AttachStopSignal(&stop);

    Clock::time_point raisedAt;
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        raisedAt = Clock::now();
        stop.Raise();
    });
    EXPECT_EQ(a.WaitReadable(Millis(-1)), WaitResult::Stopped);
    const auto ended = Clock::now();
    stopper.join();
    // Within 100 ms is the aim; the bound is loose for a loaded machine or wine.
    EXPECT_LT(std::chrono::duration_cast<Millis>(ended - raisedAt), 1s);

    // Raised before the wait: no wait at all. Cleared: waits as before.
    EXPECT_EQ(a.WaitReadable(10s), WaitResult::Stopped);
    stop.Clear();
    EXPECT_EQ(a.WaitReadable(20ms), WaitResult::TimedOut);
    ExpectCrossing(b, a, {0x99});
    a.AttachStopSignal(nullptr);
}

TEST_F(SerialContract, WaitingCostsNextToNoCpu) {
    // A loose bound: a wait that spins burns the whole wait; one that sleeps next to nothing.
    const auto cpu = test::ProcessCpuTime();
    EXPECT_EQ(a.WaitReadable(500ms), WaitResult::TimedOut);
    EXPECT_LT(test::ProcessCpuTime() - cpu, std::chrono::microseconds(250000));
}

// A megabyte with nobody reading the other end: more than any pipe between the two ports
// holds, and on a real line more than a minute of traffic.
const Bytes kFlood(1 << 20, 0x55);

TEST_F(SerialContract, WriteThatCannotFinishGivesUpAtTheWriteLimit) {
    Timing timing = Timing::Standard();
    timing.writeLimit = 200ms;
    a.SetTiming(timing);
    const auto start = Clock::now();
    EXPECT_EQ(a.WriteData(kFlood.data(), static_cast<int>(kFlood.size())), 0);
    EXPECT_LT(Since(start), 5s);
    // SendData still reports the count: the message layer finds out by the missing reply.
    const std::uint8_t byte = 0;
    EXPECT_EQ(a.SendData(&byte, 1), 1);
    Drain(b);
}

TEST_F(SerialContract, StopSignalEndsAWriteAtOnce) {
    StopSignal stop;
    a.AttachStopSignal(&stop);
    Timing timing = Timing::Standard();
    timing.writeLimit = 60s;
    a.SetTiming(timing);
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.Raise();
    });
    const auto start = Clock::now();
    EXPECT_EQ(a.WriteData(kFlood.data(), static_cast<int>(kFlood.size())), 0);
    EXPECT_LT(Since(start), 5s);
    stopper.join();
    a.AttachStopSignal(nullptr);
    Drain(b);
}

// These need no second port.

TEST(SerialOpen, AbsentPortIsNotFound) {
    SerialPort port;
    EXPECT_EQ(OpenPort(port, test::AbsentPortName()), 0);
    EXPECT_EQ(port.LastError(), SerialError::NotFound) << port.LastErrorText();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_NE(port.LastSystemError(), 0);
    EXPECT_FALSE(port.LastErrorText().empty());

    LinkSession line;
    EXPECT_EQ(line.OpenLink(test::AbsentPortName(), 115200), LINK_FAILED);
}

TEST(SerialOpen, FilesAndOtherDevicesAreNotTakenForPorts) {
    // Unique, as other test runs may share the temporary folder.
    const auto stamp = std::to_string(Clock::now().time_since_epoch().count());
    const auto file = std::filesystem::temp_directory_path() / ("zolt-not-a-port-" + stamp + ".bin");
    std::ofstream(file) << "not a serial port";
    std::vector<std::string> names = test::NonSerialDeviceNames();
    names.push_back(file.string());

    SerialPort port;
    for (const auto& name : names) {
        EXPECT_EQ(OpenPort(port, name), 0) << name;
        EXPECT_EQ(port.LastError(), SerialError::NotSerial) << name << ": " << port.LastErrorText();
        EXPECT_FALSE(port.IsOpen()) << name;
    }
    std::filesystem::remove(file);
    // A port that never opened refuses everything and touches no buffer.
    const std::uint8_t byte = 1;
    std::uint8_t buffer[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(port.SendData(&byte, 1), -1);
    EXPECT_EQ(port.WriteData(&byte, 1), 0);
    EXPECT_EQ(port.ReadData(buffer, 8), 0);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(port.WaitReadable(10ms), WaitResult::Failed);
    EXPECT_EQ(port.Close(), 0);
}

}  // namespace
}  // namespace zolt
