// The upgrade and the bootloader probe against a virtual bootloader on a
// pseudo-terminal: the bytes on the line, the flash they leave, progress,
// and the result of every fault.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "test_files.h"
#include "upgrade/serial_port.h"
#include "upgrade/upgrade.h"
#include "virtual_bootloader.h"

namespace koblib {
namespace {

using koblib_sim::BootloaderConfig;
using koblib_sim::BootloaderModel;
using koblib_sim::Fault;
using koblib_sim::FaultKind;
using koblib_sim::VirtualBootloader;
using koblib_test::byteRun;
using koblib_test::hexFile;
using koblib_test::TempDir;
using Progress = std::vector<std::pair<int, int>>;

class UpgradeOverPty : public ::testing::Test {
  protected:
    void start(BootloaderConfig config = {}) {
        sim = std::make_unique<VirtualBootloader>(std::move(config));
        port = sim->portPath();
    }

    int runUpgrade(const std::string& hexPath) {
        progress.clear();
        return upgrade(port.c_str(), hexPath.c_str(),
                       [this](int phase, int percent) { progress.emplace_back(phase, percent); });
    }

    // As runUpgrade, with what it printed in printed.
    int runUpgradeCapturing(const std::string& hexPath) {
        ::testing::internal::CaptureStdout();
        const int result = runUpgrade(hexPath);
        printed = ::testing::internal::GetCapturedStdout();
        return result;
    }

    // The line keeps the order of bytes: once the bootloader has answered
    // a probe, it has taken everything sent before it. The probe's "S"
    // ends the command log.
    BootloaderModel settled() {
        EXPECT_EQ(isKob(port.c_str()), kIsKob);
        return sim->snapshot();
    }

    std::string firmware(unsigned address, const std::vector<std::uint8_t>& bytes) {
        return dir.write("fw.hex", hexFile(address, bytes));
    }

    TempDir dir;
    std::unique_ptr<VirtualBootloader> sim;
    std::string port;
    Progress progress;
    std::string printed;
};

TEST_F(UpgradeOverPty, ProbeAcceptsTheBootloader) {
    start();
    EXPECT_EQ(isKob(port.c_str()), kIsKob);
    EXPECT_EQ(sim->snapshot().received(), "S");
}

TEST_F(UpgradeOverPty, ProbeOfAMissingPort) {
    EXPECT_EQ(isKob("/dev/koblib-no-such-port"), kIsNotKob);
    EXPECT_EQ(upgrade("/dev/koblib-no-such-port", "fw.hex", nullptr), kUpgradePortFailed);
}

struct ProbeFault {
    const char* name;
    FaultKind kind;
};
void PrintTo(const ProbeFault& c, std::ostream* out) {
    *out << c.name;
}

class ProbeFaults : public UpgradeOverPty, public ::testing::WithParamInterface<ProbeFault> {};

TEST_P(ProbeFaults, AreNotTheBootloader) {
    start({128, "LUFACDC", {{GetParam().kind, 'S', 1}}});
    EXPECT_EQ(isKob(port.c_str()), kIsNotKob);
    // The fault was on the first answer only: the next probe passes.
    EXPECT_EQ(isKob(port.c_str()), kIsKob);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeFaults,
                         ::testing::Values(ProbeFault{"SixCharacters", FaultKind::kShortAnswer},
                                           ProbeFault{"SeventhDiffers", FaultKind::kWrongLastByte},
                                           ProbeFault{"FirstDiffers", FaultKind::kWrongFirstByte},
                                           ProbeFault{"NoAnswer", FaultKind::kNoAnswer}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeOverPty, ThreeBlocksWriteVerifyAndLeave) {
    start();
    const auto bytes = byteRun(0x40, 300);
    ASSERT_EQ(runUpgrade(firmware(0, bytes)), kUpgradeOk);
    EXPECT_EQ(progress, (Progress{{0, 0},
                                  {0, 0},
                                  {0, 33},
                                  {0, 66},
                                  {0, 100},
                                  {1, 0},
                                  {1, 0},
                                  {1, 33},
                                  {1, 66},
                                  {1, 100}}));
    const BootloaderModel state = settled();
    EXPECT_EQ(state.commands(), "bABABABAgAgAgES");
    EXPECT_EQ(state.writeAddresses(), (std::vector<std::uint32_t>{0, 128, 256}));
    for (std::size_t i = 0; i < 300; ++i)
        ASSERT_EQ(state.flash()[i], bytes[i]) << i;
    // The last block goes whole: what the file left out is written as 0.
    for (std::size_t i = 300; i < 384; ++i)
        ASSERT_EQ(state.flash()[i], 0) << i;
    EXPECT_EQ(state.flash()[384], 0xFF);
}

TEST_F(UpgradeOverPty, BytesOnTheLineForOneSmallBlock) {
    BootloaderConfig config;
    config.blockSize = 4;
    start(config);
    ASSERT_EQ(runUpgrade(firmware(0x1234, {0xDE, 0xAD, 0xBE, 0xEF})), kUpgradeOk);
    const std::string expected = std::string("b") + "A\x09\x1A" + std::string("B\x00\x04", 3) +
                                 "F\xDE\xAD\xBE\xEF" + "A\x09\x1A" + std::string("g\x00\x04", 3) +
                                 "F" + "E" + "S";
    EXPECT_EQ(settled().received(), expected);
}

TEST_F(UpgradeOverPty, BlockBelowTheBootloaderIsWritten) {
    start();
    const auto bytes = byteRun(1, 128);
    ASSERT_EQ(runUpgradeCapturing(firmware(0x6F80, bytes)), kUpgradeOk);
    EXPECT_EQ(printed.find("Not writing bootloader!"), std::string::npos);
    const BootloaderModel state = settled();
    EXPECT_EQ(state.writeAddresses(), (std::vector<std::uint32_t>{0x6F80}));
    EXPECT_EQ(state.received().substr(1, 3), "A\x37\xC0");
    for (std::size_t i = 0; i < 128; ++i)
        ASSERT_EQ(state.flash()[0x6F80 + i], bytes[i]) << i;
}

TEST_F(UpgradeOverPty, BootloaderBlockIsSkippedButVerified) {
    start();
    std::vector<std::uint8_t> resident;
    for (std::uint32_t address = 0x7000; address < 0x7010; ++address) {
        resident.push_back(koblib_sim::bootloaderPattern(address));
    }
    const auto below = byteRun(9, 128);
    // One file of both parts: the first part's end-of-file record goes.
    std::string content = hexFile(0x6F80, below);
    content.resize(content.rfind(':'));
    content += hexFile(0x7000, resident);
    ASSERT_EQ(runUpgradeCapturing(dir.write("fw.hex", content)), kUpgradeOk);
    EXPECT_EQ(printed, "Not writing bootloader!\n");
    const BootloaderModel state = settled();
    EXPECT_EQ(state.commands(),
              "bAB"
              "AgAg"
              "ES");
    EXPECT_EQ(state.writeAddresses(), (std::vector<std::uint32_t>{0x6F80}));
    EXPECT_EQ(state.bootloaderWrites(), 0u);
    // The read back of the bootloader block asked for its 16 used bytes.
    EXPECT_NE(state.received().find(std::string("A\x38\x00g\x00\x10"
                                                "F",
                                                7)),
              std::string::npos);
}

TEST_F(UpgradeOverPty, BootloaderBlockThatDiffersFailsTheVerify) {
    start();
    ASSERT_EQ(runUpgradeCapturing(firmware(0x7000, byteRun(0, 16))), kUpgradeVerifyFailed);
    EXPECT_EQ(printed, "Not writing bootloader!\n");
    EXPECT_EQ(settled().commands(), "bAgS");
}

TEST_F(UpgradeOverPty, FinalAnswerNotCarriageReturnFailsTheWrite) {
    start({128, "LUFACDC", {{FaultKind::kWrongLastByte, 'B', 1}}});
    ASSERT_EQ(runUpgradeCapturing(firmware(0, byteRun(0, 300))), kUpgradeWriteFailed);
    EXPECT_EQ(printed, "kob_write_block returned false\n");
    EXPECT_EQ(progress, (Progress{{0, 0}}));
    // No verify, no leave.
    EXPECT_EQ(settled().commands(), "bABS");
}

TEST_F(UpgradeOverPty, DifferenceInTheLastBlockFailsTheVerify) {
    start({128, "LUFACDC", {{FaultKind::kWrongLastByte, 'g', 3}}});
    ASSERT_EQ(runUpgrade(firmware(0, byteRun(0, 300))), kUpgradeVerifyFailed);
    EXPECT_EQ(progress,
              (Progress{{0, 0}, {0, 0}, {0, 33}, {0, 66}, {0, 100}, {1, 0}, {1, 0}, {1, 33}}));
    EXPECT_EQ(settled().commands(), "bABABABAgAgAgS");
}

// An exception once the port is open gives the result of its step, and
// nothing is sent after it.
struct ThrowingStep {
    const char* name;
    int phase;  // the progress report that throws: its phase and percent
    int percent;
    int result;
    const char* commands;
};
void PrintTo(const ThrowingStep& c, std::ostream* out) {
    *out << c.name;
}

class ThrowingProgress : public UpgradeOverPty,
                         public ::testing::WithParamInterface<ThrowingStep> {};

TEST_P(ThrowingProgress, GivesTheResultOfItsStep) {
    start();
    const std::string path = firmware(0, byteRun(0, 300));
    const ThrowingStep& step = GetParam();
    const int result = upgrade(port.c_str(), path.c_str(), [&](int phase, int percent) {
        if (phase == step.phase && percent == step.percent) throw std::bad_alloc();
    });
    EXPECT_EQ(result, step.result);
    EXPECT_EQ(settled().commands(), step.commands);
}

INSTANTIATE_TEST_SUITE_P(Steps, ThrowingProgress,
                         ::testing::Values(ThrowingStep{"WriteStart", kUpgradePhaseWrite, 0,
                                                        kUpgradeWriteFailed, "bS"},
                                           ThrowingStep{"WriteEnd", kUpgradePhaseWrite, 100,
                                                        kUpgradeWriteFailed, "bABABABS"},
                                           ThrowingStep{"VerifyMidway", kUpgradePhaseVerify, 33,
                                                        kUpgradeVerifyFailed, "bABABABAgAgS"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeOverPty, MissingFirmwareFile) {
    start();
    EXPECT_EQ(runUpgrade(dir.path("missing.hex")), kUpgradeFileFailed);
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(settled().commands(), "bS");
}

// Each fault on a three-block upgrade gives its result and sends nothing
// after the failing step.
struct UpgradeFault {
    const char* name;
    BootloaderConfig config;
    int result;
    const char* commands;  // as the bootloader saw them, the probe included
};
void PrintTo(const UpgradeFault& c, std::ostream* out) {
    *out << c.name;
}

class UpgradeFaults : public UpgradeOverPty, public ::testing::WithParamInterface<UpgradeFault> {};

TEST_P(UpgradeFaults, GiveTheirResult) {
    start(GetParam().config);
    EXPECT_EQ(runUpgrade(firmware(0, byteRun(0, 300))), GetParam().result);
    EXPECT_EQ(settled().commands(), GetParam().commands);
}

BootloaderConfig withFault(FaultKind kind, char command, int occurrence) {
    BootloaderConfig config;
    config.faults.push_back(Fault{kind, command, occurrence});
    return config;
}

BootloaderConfig withBlockSize(std::uint16_t size) {
    BootloaderConfig config;
    config.blockSize = size;
    return config;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpgradeFaults,
    ::testing::Values(
        UpgradeFault{"BlockSizeNoAnswer", withFault(FaultKind::kNoAnswer, 'b', 1), -4, "bS"},
        UpgradeFault{"BlockSizeShort", withFault(FaultKind::kShortAnswer, 'b', 1), -4, "bS"},
        UpgradeFault{"BlockSizeNotY", withFault(FaultKind::kWrongFirstByte, 'b', 1), -4, "bS"},
        UpgradeFault{"BlockSizeZero", withBlockSize(0), -4, "bS"},
        // Blocks at odd addresses cannot be addressed in words.
        UpgradeFault{"BlockSizeOdd", withBlockSize(0xFFFF), -4, "bS"},
        UpgradeFault{"BlockSizeOne", withBlockSize(1), -4, "bS"},
        UpgradeFault{"AddressNoAnswer", withFault(FaultKind::kNoAnswer, 'A', 1), -6, "bAS"},
        UpgradeFault{"SecondAddressWrongByte", withFault(FaultKind::kWrongLastByte, 'A', 2), -6,
                     "bABAS"},
        UpgradeFault{"WriteNoAnswer", withFault(FaultKind::kNoAnswer, 'B', 2), -6, "bABABS"},
        UpgradeFault{"WriteShortAnswer", withFault(FaultKind::kShortAnswer, 'B', 3), -6,
                     "bABABABS"},
        UpgradeFault{"VerifyAddressWrongByte", withFault(FaultKind::kWrongLastByte, 'A', 4), -7,
                     "bABABABAS"},
        UpgradeFault{"ReadBackNoAnswer", withFault(FaultKind::kNoAnswer, 'g', 1), -7, "bABABABAgS"},
        UpgradeFault{"ReadBackShort", withFault(FaultKind::kShortAnswer, 'g', 2), -7,
                     "bABABABAgAgS"},
        UpgradeFault{"ReadBackCorrupted", withFault(FaultKind::kWrongFirstByte, 'g', 1), -7,
                     "bABABABAgS"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every fault kind at every step of a clean upgrade: the result follows
// from the phase of the step, and "E" goes out only when nothing failed.
TEST_F(UpgradeOverPty, EveryFaultKindAtEveryStep) {
    start();
    const std::string hex = firmware(0, byteRun(0, 300));
    ASSERT_EQ(runUpgrade(hex), kUpgradeOk);
    std::string steps = settled().commands();
    steps.pop_back();  // the probe's "S"
    const FaultKind kinds[] = {FaultKind::kWrongFirstByte, FaultKind::kWrongLastByte,
                               FaultKind::kNoAnswer, FaultKind::kShortAnswer, FaultKind::kHangUp};
    std::map<char, int> seen;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const char command = steps[i];
        const int occurrence = ++seen[command];
        const bool verifying = steps.find('g') <= i + (command == 'A');
        for (const FaultKind kind : kinds) {
            SCOPED_TRACE(std::string("step ") + std::to_string(i) + " " + command + " kind " +
                         std::to_string(static_cast<int>(kind)));
            start(withFault(kind, command, occurrence));
            int expected = verifying ? kUpgradeVerifyFailed : kUpgradeWriteFailed;
            if (command == 'b')
                expected =
                    kind == FaultKind::kHangUp ? kUpgradeQueryReadFailed : kUpgradeNoBlockSupport;
            // A changed last byte of the block size is another usable size.
            if (command == 'b' && kind == FaultKind::kWrongLastByte) expected = kUpgradeOk;
            if (command == 'E') expected = kUpgradeOk;  // nothing is read after "E"
            const int result = runUpgrade(hex);
            EXPECT_EQ(result, expected);
            if (kind == FaultKind::kHangUp) continue;  // the line is gone
            EXPECT_EQ(settled().left(), result == kUpgradeOk);
        }
    }
}

TEST_F(UpgradeOverPty, LineHungUpWhileReadingTheBlockSize) {
    start(withFault(FaultKind::kHangUp, 'b', 1));
    EXPECT_EQ(runUpgrade(firmware(0, byteRun(0, 300))), kUpgradeQueryReadFailed);
    EXPECT_TRUE(sim->hungUp());
}

TEST_F(UpgradeOverPty, PortIsHeldExclusively) {
    start();
    SerialPort holder;
    ASSERT_TRUE(holder.open(port.c_str()));
    SerialPort second;
    EXPECT_FALSE(second.open(port.c_str()));
    EXPECT_EQ(isKob(port.c_str()), kIsNotKob);
    EXPECT_EQ(upgrade(port.c_str(), firmware(0, byteRun(0, 4)).c_str(), nullptr),
              kUpgradePortFailed);
    holder.close();
    EXPECT_EQ(isKob(port.c_str()), kIsKob);
    // Nothing but the last probe reached the bootloader.
    EXPECT_EQ(sim->snapshot().received(), "S");
}

TEST_F(UpgradeOverPty, ReadTimeOutIsAShortReadNotAFailure) {
    start({128, "LUFACDC", {{FaultKind::kNoAnswer, 'S', 1}, {FaultKind::kShortAnswer, 'S', 2}}});
    SerialPort serial;
    ASSERT_TRUE(serial.open(port.c_str()));
    char answer[7];
    std::size_t moved = 99;
    ASSERT_TRUE(serial.write("S", 1, &moved));
    EXPECT_EQ(moved, 1u);
    EXPECT_TRUE(serial.read(answer, sizeof answer, &moved));
    EXPECT_EQ(moved, 0u);
    ASSERT_TRUE(serial.write("S", 1, &moved));
    EXPECT_TRUE(serial.read(answer, sizeof answer, &moved));
    EXPECT_EQ(moved, 6u);
    EXPECT_EQ(std::string(answer, 6), "LUFACD");
}

// A firmware of 28 KiB made by objcopy, end to end: the flash below the
// bootloader equals it afterwards. Prints the time it took.
TEST_F(UpgradeOverPty, Firmware28KiBFromObjcopyEndToEnd) {
    start();
    const auto bytes = koblib_test::readBinaryFile(koblib_test::testDataPath("firmware28k.bin"));
    ASSERT_EQ(bytes.size(), 0x7000u);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(runUpgrade(koblib_test::testDataPath("firmware28k.hex")), kUpgradeOk);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("28 KiB upgrade (write and verify): %.3f s, %.0f bytes/s\n", seconds,
                bytes.size() / seconds);
    EXPECT_EQ(progress.back(), std::make_pair(1, 100));

    const BootloaderModel state = settled();
    ASSERT_TRUE(state.left());
    EXPECT_EQ(state.writeAddresses().size(), 0x7000u / 128);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(state.flash()[i], bytes[i]) << i;
}

}  // namespace
}  // namespace koblib
