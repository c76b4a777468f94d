#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <linux/fs.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tuple>
#include <vector>

#include "BoundedRole.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

using namespace smc;
using namespace ::testing;
using Bytes = std::vector<uint8_t>;

constexpr double kT0 = 1'700'000'000;

Bytes readBytes(VirtualSMC& smc, const std::string& key, std::string* type = nullptr)
{
    SMCKeyInfo info;
    if (smc.keyInfo(keyCode(key), info) != kSMCSuccess) {
        ADD_FAILURE() << key << " is missing";
        return {};
    }
    if (type)
        *type = keyText(info.dataType);
    SMCBytes out{};
    EXPECT_EQ(smc.readKey(keyCode(key), info.dataSize, out), kSMCSuccess) << key;
    return Bytes(out.begin(), out.begin() + info.dataSize);
}

double readValue(VirtualSMC& smc, const std::string& key)
{
    std::string type;
    const Bytes bytes = readBytes(smc, key, &type);
    return decodeSMCValue(type, bytes).value_or(NAN);
}

uint8_t writeBytes(VirtualSMC& smc, const std::string& key, const Bytes& bytes)
{
    SMCBytes in{};
    std::copy(bytes.begin(), bytes.end(), in.begin());
    return smc.writeKey(keyCode(key), static_cast<uint32_t>(bytes.size()), in);
}

// With KELVARA_TEST_SMC_STATE set, this binary reads the simulated Mac from
// that state file as a program would, changes it once and exits before any test.
class StateReaderRole : public ::testing::Environment {
public:
    void SetUp() override
    {
        const char* path = std::getenv("KELVARA_TEST_SMC_STATE");
        if (!path)
            return;
        VirtualSMC smc{path};
        std::printf("model %s\n", smc.modelIdentifier().c_str());
        if (!std::isfinite(readValue(smc, "TC0P")) || !smc.setLoad(0.5))
            std::_Exit(2);
        exitWithPeak();
    }
};

[[maybe_unused]] auto* const g_stateReaderRole = ::testing::AddGlobalTestEnvironment(new StateReaderRole);

class VirtualSMCTest : public ::testing::Test {
protected:
    TestHome home;
    VirtualSMC smc{home.virtualSMCState()};

    void freeze(double load) { ASSERT_TRUE(smc.freezeClock(kT0) && smc.setLoad(load)); }
};

TEST_F(VirtualSMCTest, TwoInstancesOnOneFileBehaveLikeTwoProcesses)
{
    VirtualSMC other{home.virtualSMCState()};
    ASSERT_EQ(other.modelIdentifier(), kDefaultVirtualProfile);

    // Same-size rewrites in quick succession, two between reads, so a freed
    // inode may come back with the same size and file time.
    const double loads[] = {0.1, 0.3, 0.7};
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(smc.setLoad(loads[i % 3]));
        if (i % 2) {
            ASSERT_DOUBLE_EQ(other.load(), loads[i % 3]) << "write " << i;
        }
    }

    // `smc` holds a view from before `other` wrote; its own write must keep both.
    EXPECT_DOUBLE_EQ(smc.load(), 0.7);
    ASSERT_EQ(writeBytes(other, "F0Md", {1}), kSMCSuccess);
    ASSERT_TRUE(smc.freezeClock(kT0));
    ASSERT_EQ(writeBytes(smc, "F1Md", {1}), kSMCSuccess);

    VirtualSMC third{home.virtualSMCState()};
    EXPECT_EQ(readBytes(third, "F0Md"), Bytes{1});
    EXPECT_EQ(readBytes(third, "F1Md"), Bytes{1});
    EXPECT_DOUBLE_EQ(third.now(), kT0);
    EXPECT_DOUBLE_EQ(third.load(), 0.7);
}

TEST_F(VirtualSMCTest, FrozenReadingsAreDeterministicAndFollowLoadAndFans)
{
    const std::vector<std::string> cpuKeys{"TC0P", "TC0E", "TC1C", "TCXC"};
    auto cpu = [&](VirtualSMC& s) {
        std::vector<double> t;
        for (const auto& k : cpuKeys)
            t.push_back(readValue(s, k));
        return t;
    };

    freeze(0.2);
    const auto idle = cpu(smc);
    VirtualSMC other{home.virtualSMCState()};
    EXPECT_EQ(cpu(smc), idle);
    EXPECT_EQ(cpu(other), idle);
    EXPECT_EQ(readBytes(other, "PC0C"), readBytes(smc, "PC0C"));  // flt, host order

    ASSERT_TRUE(smc.setLoad(0.9));
    const auto busy = cpu(other);
    for (size_t i = 0; i < cpuKeys.size(); ++i) {
        EXPECT_GT(idle[i], 30) << cpuKeys[i];  // above the ambient air
        EXPECT_GT(busy[i], idle[i] + 5) << cpuKeys[i];
    }

    // Same light load and time, fans pinned at their maximum: the chips run cooler.
    ASSERT_TRUE(smc.setLoad(0.2));
    ASSERT_TRUE(smc.setKeyValue("F0Ac", 5927));
    ASSERT_TRUE(smc.setKeyValue("F1Ac", 6448));
    const auto cooled = cpu(other);
    for (size_t i = 0; i < cpuKeys.size(); ++i)
        EXPECT_LT(cooled[i], idle[i] - 5) << cpuKeys[i];
}

TEST_F(VirtualSMCTest, ForcedFanRampsTowardsItsTargetAndModeZeroHandsItBack)
{
    freeze(0.2);
    const double idle = readValue(smc, "F0Ac");
    EXPECT_NEAR(idle, 2160, 1);  // light load: at the minimum
    EXPECT_EQ(readBytes(smc, "F0Md"), Bytes{0});

    ASSERT_EQ(writeBytes(smc, "F0Md", {1}), kSMCSuccess);
    ASSERT_EQ(writeBytes(smc, "F0Tg", {0x00, 0x00, 0x7A, 0x45}), kSMCSuccess);  // 4000.0f
    EXPECT_EQ(readBytes(smc, "F0Md"), Bytes{1});
    EXPECT_DOUBLE_EQ(readValue(smc, "F0Tg"), 4000);
    EXPECT_NEAR(readValue(smc, "F0Ac"), idle, 1) << "the fan must not jump";

    double previous = idle;
    for (int second = 1; second <= 4; ++second) {
        ASSERT_TRUE(smc.freezeClock(kT0 + second));
        const double actual = readValue(smc, "F0Ac");
        EXPECT_THAT(actual, AllOf(Gt(previous + 50), Lt(4000 - 50))) << second << " s";
        previous = actual;
    }
    // A new target mid-ramp starts from where the fan is, not from the old target.
    ASSERT_EQ(writeBytes(smc, "F0Tg", {0x00, 0x80, 0x3B, 0x45}), kSMCSuccess);  // 3000.0f
    EXPECT_NEAR(readValue(smc, "F0Ac"), previous, 1);
    ASSERT_TRUE(smc.freezeClock(kT0 + 30));
    EXPECT_NEAR(readValue(smc, "F0Ac"), 3000, 2);
    EXPECT_NEAR(readValue(smc, "F1Ac"), 2000, 1) << "the other fan is untouched";

    ASSERT_EQ(writeBytes(smc, "F0Md", {0}), kSMCSuccess);
    EXPECT_NEAR(smc.fanTarget(0), 2160, 1);
    EXPECT_NEAR(readValue(smc, "F0Ac"), 3000, 2);
    ASSERT_TRUE(smc.freezeClock(kT0 + 31));
    EXPECT_THAT(readValue(smc, "F0Ac"), AllOf(Gt(2300), Lt(2950)));
    ASSERT_TRUE(smc.freezeClock(kT0 + 60));
    EXPECT_NEAR(readValue(smc, "F0Ac"), 2160, 2);

    // Back in the system's hands, the fan follows the load again.
    ASSERT_TRUE(smc.setLoad(1.0));
    ASSERT_TRUE(smc.freezeClock(kT0 + 120));
    EXPECT_NEAR(readValue(smc, "F0Ac"), 5927, 2);
}

TEST_F(VirtualSMCTest, MinimumSpeedProfileRaisesTheFanThroughF0Mn)
{
    ASSERT_TRUE(smc.setProfile("MacBookPro11,3"));
    freeze(0.2);
    VirtualSMC other{home.virtualSMCState()};
    EXPECT_EQ(other.modelIdentifier(), "MacBookPro11,3");
    SMCKeyInfo info;
    EXPECT_EQ(smc.keyInfo(keyCode("F0Md"), info), kSMCKeyNotFound);
    EXPECT_EQ(writeBytes(smc, "F0Tg", {0x2E, 0xE0}), kSMCKeyNotWritable);
    EXPECT_EQ(readBytes(smc, "F0Ac"), (Bytes{0x1F, 0x40}));  // 2000 rpm

    ASSERT_EQ(writeBytes(smc, "F0Mn", {0x2E, 0xE0}), kSMCSuccess);  // 3000 rpm
    EXPECT_DOUBLE_EQ(readValue(other, "F0Mn"), 3000);
    ASSERT_TRUE(smc.freezeClock(kT0 + 1));
    EXPECT_THAT(readValue(other, "F0Ac"), AllOf(Gt(2050), Lt(2950)));
    ASSERT_TRUE(smc.freezeClock(kT0 + 30));
    EXPECT_NEAR(readValue(other, "F0Ac"), 3000, 1);
    EXPECT_NEAR(readValue(other, "F1Ac"), 2000, 1);
}

TEST_F(VirtualSMCTest, RejectedAccessesLeaveNoStateAndKeyInfoFollowsTheProfile)
{
    auto info = [&](const char* key) {
        SMCKeyInfo i;
        EXPECT_EQ(smc.keyInfo(keyCode(key), i), kSMCSuccess) << key;
        return std::tuple(keyText(i.dataType), i.dataSize, int(i.attributes));
    };
    EXPECT_EQ(info("TC0P"), std::tuple("sp78", 2u, kSMCAttrRead));
    EXPECT_EQ(info("F0Tg"), std::tuple("flt ", 4u, kSMCAttrRead | kSMCAttrWrite));
    EXPECT_EQ(info("F1Md"), std::tuple("ui8 ", 1u, kSMCAttrRead | kSMCAttrWrite));
    EXPECT_EQ(info("F0ID"), std::tuple("{fds", 16u, kSMCAttrRead));

    EXPECT_EQ(writeBytes(smc, "TC0P", {0x2A, 0x80}), kSMCKeyNotWritable);
    EXPECT_EQ(writeBytes(smc, "F0Ac", {0, 0, 0x7A, 0x45}), kSMCKeyNotWritable);
    EXPECT_EQ(writeBytes(smc, "F0Md", {1, 0}), kSMCKeySizeMismatch);
    EXPECT_EQ(writeBytes(smc, "F0Tg", {0x0F, 0xA0}), kSMCKeySizeMismatch);
    EXPECT_EQ(writeBytes(smc, "ZZZZ", {1}), kSMCKeyNotFound);
    EXPECT_EQ(writeBytes(smc, "FS! ", {0, 1}), kSMCKeyNotFound);  // only the older profile has it
    SMCBytes out{};
    EXPECT_EQ(smc.readKey(keyCode("TC0P"), 4, out), kSMCKeySizeMismatch);
    EXPECT_EQ(smc.readKey(keyCode("ZZZZ"), 2, out), kSMCKeyNotFound);
    EXPECT_FALSE(std::filesystem::exists(home.virtualSMCState()));
}

TEST_F(VirtualSMCTest, GarbageStateFileFallsBackToTheDefaultProfile)
{
    std::filesystem::create_directories(std::filesystem::path(home.virtualSMCState()).parent_path());
    {
        std::ofstream file(home.virtualSMCState(), std::ios::binary);
        file << "profile NoSuchMac\nclock \nload x\nset F0Md zz\nset F0\nramp 99 a b\nramp -1 0 0\n";
        file << std::string("\0\xff\x80set TC0P 2a8\n", 16) << std::string(5000, '\xfe');
    }
    VirtualSMC fresh{home.virtualSMCState()};
    EXPECT_EQ(fresh.modelIdentifier(), kDefaultVirtualProfile);
    EXPECT_EQ(readBytes(fresh, "FNum"), Bytes{2});
    EXPECT_EQ(readBytes(fresh, "F0Md"), Bytes{0});
    EXPECT_TRUE(std::isfinite(readValue(fresh, "TC0P")));
    EXPECT_TRUE(std::isfinite(fresh.fanActual(1)));
    // The next write replaces the garbage with a usable file.
    ASSERT_EQ(writeBytes(fresh, "F0Md", {1}), kSMCSuccess);
    VirtualSMC later{home.virtualSMCState()};
    EXPECT_EQ(readBytes(later, "F0Md"), Bytes{1});
}

// A program reads the state in a child with a time and memory limit: a reader
// that waited on the pipe or read the link or the huge file would fail it.
TEST_F(VirtualSMCTest, WhatIsNoStateFileIsSetAsideOnceAndTheDefaultsServe)
{
    for (const char* shape : kHostileShapes) {
        SCOPED_TRACE(shape);
        const std::string state = home.virtualSMCState();
        expectSetAsideOnce(state, shape, "KELVARA_TEST_SMC_STATE", QString::fromStdString(state));
        if (testing::Test::HasFatalFailure())
            return;
        // The change went into a new regular file.
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(state)));
        VirtualSMC after{state};
        EXPECT_DOUBLE_EQ(after.load(), 0.5);
    }
}

// Where nothing can be renamed (a folder nobody may write in; root too, once
// it is immutable), what stands in the state's place stays: said once, however
// many readers look.
TEST_F(VirtualSMCTest, WhatIsNoStateFileInAFolderNobodyMayWriteInIsSaidOnce)
{
    const std::string state = home.virtualSMCState();
    const std::string folder = std::filesystem::path(state).parent_path();
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo(state.c_str(), 0600), 0);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    const bool immutable = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                           ::ioctl(fd, FS_IOC_SETFLAGS, &(flags |= FS_IMMUTABLE_FL)) == 0;
    if (!immutable && (::geteuid() == 0 || ::chmod(folder.c_str(), 0555) != 0)) {
        ::close(fd);
        GTEST_SKIP() << "no folder here can be made one that root may not write in";
    }
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(VirtualSMC(state).modelIdentifier(), kDefaultVirtualProfile);
    const std::string said = testing::internal::GetCapturedStderr();
    if (!immutable || ::ioctl(fd, FS_IOC_SETFLAGS, &(flags &= ~FS_IMMUTABLE_FL)) != 0)
        ::chmod(folder.c_str(), 0755);
    ::close(fd);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("could not be set aside"), std::string::npos) << said;
}

// The lock is ours: a link planted at its name is not followed to make a file
// where it points, and a holder that never lets go fails a write instead of
// stopping it (a watchdog lets go at last, so waiting without limit fails the
// test rather than hanging it).
TEST_F(VirtualSMCTest, ItsLockIsNeitherFollowedThroughALinkNorWaitedOnWithoutLimit)
{
    const std::string lock = home.virtualSMCState() + ".lock";
    std::filesystem::create_directories(std::filesystem::path(lock).parent_path());
    const std::string elsewhere = home.path().toStdString() + "/somewhere";
    ASSERT_EQ(::symlink(elsewhere.c_str(), lock.c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(smc.setLoad(0.25));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(elsewhere)));
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(lock)));

    const int held = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    std::promise<void> done;
    auto watchdog = std::async(std::launch::async, [&held, finished = done.get_future()] {
        if (finished.wait_for(std::chrono::seconds(20)) == std::future_status::timeout)
            ::flock(held, LOCK_UN);
    });
    EXPECT_FALSE(smc.setLoad(0.75));
    done.set_value();
    watchdog.wait();
    ::close(held);
    EXPECT_DOUBLE_EQ(VirtualSMC(home.virtualSMCState()).load(), 0.25);
}

TEST(VirtualSMCStateTest, NumbersThatAreNotFiniteAreRefusedLikeAnyBadLine)
{
    for (const char* bad : {"nan", "inf", "-inf", "NaN", "1e999", "12abc", ""}) {
        const std::string number = bad;
        const VirtualSMCState state = VirtualSMCState::parse("clock " + number + "\nload " + number + "\nramp 0 " +
                                                             number + " 900\nramp 1 5 " + number + "\n");
        EXPECT_FALSE(state.clock) << bad;
        EXPECT_FALSE(state.load) << bad;
        EXPECT_TRUE(state.ramps.empty()) << bad;
    }
    // What serialize writes still reads back.
    VirtualSMCState written;
    written.clock = kT0 + 0.25;
    written.load = 1e-5;
    written.ramps[3] = {kT0, 1234.5};
    const VirtualSMCState read = VirtualSMCState::parse(written.serialize());
    EXPECT_EQ(read.clock, written.clock);
    EXPECT_EQ(read.load, written.load);
    ASSERT_EQ(read.ramps.count(3), 1u);
    EXPECT_EQ(read.ramps.at(3).since, kT0);
    EXPECT_EQ(read.ramps.at(3).from, 1234.5);
}

TEST(VirtualSMCValueTest, EncodingAndDecodingAgreeAndClamp)
{
    struct Case {
        std::string type;
        double value;
        Bytes bytes;
        double decoded;
    };
    const Case cases[] = {
        {"sp78", 42.5, {0x2A, 0x80}, 42.5},
        {"sp78", -1, {0xFF, 0x00}, -1},
        {"sp78", 1000, {0x7F, 0xFF}, 127.99609375},
        {"sp78", -1000, {0x80, 0x00}, -128},
        {"fpe2", 2000, {0x1F, 0x40}, 2000},
        {"fpe2", -5, {0x00, 0x00}, 0},
        {"fpe2", 1e6, {0xFF, 0xFF}, 16383.75},
        {"flt ", 2000, {0x00, 0x00, 0xFA, 0x44}, 2000},
        {"ui8 ", 300, {0xFF}, 255},
        {"ui16", 70000, {0xFF, 0xFF}, 65535},
        {"ui16", -3, {0x00, 0x00}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type + " " + std::to_string(c.value));
        EXPECT_EQ(encodeSMCValue(c.type, static_cast<uint32_t>(c.bytes.size()), c.value), c.bytes);
        EXPECT_EQ(decodeSMCValue(c.type, c.bytes), c.decoded);
    }
    EXPECT_EQ(decodeSMCValue("sp78", {0x2A, 0x80, 0x00}), std::nullopt);
    EXPECT_EQ(decodeSMCValue("{fds", Bytes(16, 0)), std::nullopt);
}

TEST_F(VirtualSMCTest, FixedKeyValueOverridesTheModelUntilCleared)
{
    freeze(0.2);
    const Bytes modelled = readBytes(smc, "TC0P");
    ASSERT_TRUE(smc.setKeyValue("TC0P", 55.25));
    EXPECT_FALSE(smc.setKeyValue("ZZZZ", 1));
    ASSERT_TRUE(smc.setLoad(1.0));
    ASSERT_TRUE(smc.freezeClock(kT0 + 500));
    VirtualSMC other{home.virtualSMCState()};
    EXPECT_EQ(readBytes(other, "TC0P"), (Bytes{0x37, 0x40}));

    ASSERT_TRUE(smc.clearKey("TC0P"));
    ASSERT_TRUE(smc.setLoad(0.2));
    ASSERT_TRUE(smc.freezeClock(kT0));
    EXPECT_EQ(readBytes(other, "TC0P"), modelled);
}

}  // namespace
