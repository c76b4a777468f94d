#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "ApplesmcBackend.h"

namespace {

using namespace smc;
using Bytes = std::vector<uint8_t>;

struct FakeKey {
    std::string name, type;
    Bytes data;
};

// The index-dependent attributes live in the driver, not in files: emulate them.
class FakeApplesmc : public SysfsDevice {
public:
    FakeApplesmc(std::string dir, std::vector<FakeKey> keys, bool root)
        : SysfsDevice(std::move(dir)), keys(std::move(keys)), root(root) {}

    std::optional<std::string> read(const std::string& a) override
    {
        if (a == "key_at_index")
            return std::to_string(index) + "\n";
        if (!a.starts_with("key_at_index_"))
            return SysfsDevice::read(a);
        if (interfere > 0 && interfere-- == 1)
            index = 0;  // another process moved the index just before this read
        if (index < 0 || index >= static_cast<int>(keys.size()))
            return std::nullopt;
        const FakeKey& k = keys[index];
        if (a == "key_at_index_name")
            return k.name + "\n";
        if (a == "key_at_index_type")
            return k.type + "\n";
        if (a == "key_at_index_data_length")
            return std::to_string(k.data.size()) + "\n";
        return std::string(k.data.begin(), k.data.end());
    }
    bool write(const std::string& a, const std::string& v) override
    {
        if (a != "key_at_index")
            return SysfsDevice::write(a, v);
        ++indexWrites;
        index = std::stoi(v);
        return root;
    }
    bool canWrite(const std::string& a) override
    {
        return a == "key_at_index" ? root : SysfsDevice::canWrite(a);
    }

    std::vector<FakeKey> keys;
    bool root;
    int index = 0;
    int indexWrites = 0;
    int interfere = 0;
};

const std::vector<FakeKey> kKeys = {
    {"#KEY", "ui32", {0, 0, 0, 9}},   {"F0Ac", "fpe2", {0x12, 0xc0}}, {"F0Md", "ui8 ", {0}},
    {"F0Tg", "flt ", {0, 0, 0, 0}},   {"F1Tg", "fpe2", {0, 0}},       {"F2Tg", "fpe2", {0, 0}},
    {"FNum", "ui8 ", {2}},            {"FS! ", "ui16", {0, 3}},       {"TC0P", "sp78", {0x2a, 0x80}},
};

class ApplesmcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/applesmc-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        put("key_count", std::to_string(kKeys.size()) + "\n");
        static const std::pair<const char*, const char*> kFiles[] = {
            {"fan1_input", "1200"},  {"fan1_min", "1200"},   {"fan1_max", "6000"},
            {"fan1_output", "1300"}, {"fan1_manual", "0"},   {"fan1_label", "Left"},
            {"fan2_input", "1500"},  {"fan2_min", "1100"},   {"fan2_output", "1800"},
            {"fan2_manual", "1"},    {"fan2_label", "Right side fan"},
            {"temp1_label", "TC0P"}, {"temp1_input", "42500"},
            {"temp2_label", "TB0T"}, {"temp2_input", "-1750"},
        };
        for (const auto& [name, value] : kFiles)
            put(name, std::string(value) + "\n");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void put(const std::string& name, const std::string& text) { std::ofstream(dir + "/" + name) << text; }
    std::string get(const std::string& name)
    {
        std::stringstream s;
        s << std::ifstream(dir + "/" + name).rdbuf();
        return s.str();
    }
    ApplesmcBackend& backend(bool root, std::vector<FakeKey> keys = kKeys)
    {
        auto device = std::make_unique<FakeApplesmc>(dir, std::move(keys), root);
        fake = device.get();
        m_smc = std::make_unique<ApplesmcBackend>(std::move(device));
        return *m_smc;
    }
    Bytes read(const std::string& key, uint32_t size, uint8_t expect = kSMCSuccess)
    {
        SMCBytes out{};
        EXPECT_EQ(m_smc->readKey(keyCode(key), size, out), expect) << key;
        return Bytes(out.begin(), out.begin() + size);
    }
    uint8_t write(const std::string& key, const Bytes& bytes)
    {
        SMCBytes in{};
        std::copy(bytes.begin(), bytes.end(), in.begin());
        return m_smc->writeKey(keyCode(key), static_cast<uint32_t>(bytes.size()), in);
    }
    uint8_t info(const std::string& key, SMCKeyInfo& i) { return m_smc->keyInfo(keyCode(key), i); }

    std::string dir;
    FakeApplesmc* fake = nullptr;
    std::unique_ptr<ApplesmcBackend> m_smc;
};

TEST_F(ApplesmcTest, IsPresentNeedsTheDeviceAttributes)
{
    EXPECT_TRUE(ApplesmcBackend::isPresent(dir));
    EXPECT_FALSE(ApplesmcBackend::isPresent(dir + "/missing"));
    EXPECT_FALSE(ApplesmcBackend::isPresent(dir + "/key_count"));  // a file, not a folder
    std::filesystem::remove(dir + "/key_count");
    std::filesystem::remove(dir + "/fan1_input");
    EXPECT_TRUE(ApplesmcBackend::isPresent(dir));  // temp1_input is enough
    std::filesystem::remove(dir + "/temp1_input");
    EXPECT_FALSE(ApplesmcBackend::isPresent(dir));
}

TEST_F(ApplesmcTest, IndexModeFindsKeysByBinarySearch)
{
    ASSERT_TRUE(backend(true).readsByIndex());
    EXPECT_EQ(read("#KEY", 4), (Bytes{0, 0, 0, 9}));
    EXPECT_EQ(read("TC0P", 2), (Bytes{0x2a, 0x80}));
    EXPECT_EQ(read("F0Tg", 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(read("FS! ", 2), (Bytes{0, 3}));  // the space belongs to the key
    for (const char* absent : {"!AAA", "ZZZZ", "F0Mx", "FS  ", "FS!", "FNu "}) {
        SMCKeyInfo i;
        EXPECT_EQ(info(absent, i), kSMCKeyNotFound) << absent;
        read(absent, 2, kSMCKeyNotFound);
    }

    SMCKeyInfo i;
    ASSERT_EQ(info("TC0P", i), kSMCSuccess);
    EXPECT_EQ(i.dataType, keyCode("sp78"));
    EXPECT_EQ(i.dataSize, 2u);
    EXPECT_EQ(i.attributes, kSMCAttrRead);
    ASSERT_EQ(info("F0Tg", i), kSMCSuccess);
    EXPECT_EQ(i.dataType, keyCode("flt "));
    EXPECT_EQ(i.attributes, kSMCAttrRead | kSMCAttrWrite);
    ASSERT_EQ(info("F2Tg", i), kSMCSuccess);  // the key exists, but there is no fan3 to write
    EXPECT_EQ(i.attributes, kSMCAttrRead);

    read("TC0P", 4, kSMCKeySizeMismatch);
}

TEST_F(ApplesmcTest, BinarySearchCoversEveryPositionCheaply)
{
    std::vector<FakeKey> keys;
    for (int n = 0; n < 100; ++n) {
        char name[5];
        std::snprintf(name, sizeof name, "K%03d", n * 2);  // odd numbers are gaps
        keys.push_back({name, "ui8 ", {static_cast<uint8_t>(n)}});
    }
    put("key_count", "100\n");
    backend(true, keys);
    read("K100", 1);
    EXPECT_LE(fake->indexWrites, 12);  // log2(100) probes, then type, length and data
    for (int n = 0; n < 100; ++n) {
        char name[5];
        std::snprintf(name, sizeof name, "K%03d", n * 2);
        EXPECT_EQ(read(name, 1), Bytes{static_cast<uint8_t>(n)}) << name;
        std::snprintf(name, sizeof name, "K%03d", n * 2 + 1);
        read(name, 1, kSMCKeyNotFound);
    }
}

TEST_F(ApplesmcTest, IndexModeRereadsWhenAnotherProcessMovesTheIndex)
{
    backend(true);
    read("TC0P", 2);
    fake->interfere = 1;
    EXPECT_EQ(read("TC0P", 2), (Bytes{0x2a, 0x80}));
}

TEST_F(ApplesmcTest, AttributeModeSynthesizesKeysFromHwmonFiles)
{
    ASSERT_FALSE(backend(false).readsByIndex());
    EXPECT_EQ(read("TC0P", 2), (Bytes{0x2a, 0x80}));  // 42.5 degrees in signed 8.8
    EXPECT_EQ(read("TB0T", 2), (Bytes{0xfe, 0x40}));  // -1.75
    EXPECT_EQ(read("FNum", 1), Bytes{2});
    EXPECT_EQ(read("F1Ac", 2), (Bytes{0x17, 0x70}));  // fan2_input 1500 rpm as fpe2
    EXPECT_EQ(read("F0Mx", 2), (Bytes{0x5d, 0xc0}));
    EXPECT_EQ(read("F1Md", 1), Bytes{1});
    const Bytes left = read("F0ID", 16);
    EXPECT_EQ(Bytes(left.begin(), left.begin() + 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(std::string(left.begin() + 4, left.end()), "Left        ");
    const Bytes right = read("F1ID", 16);
    EXPECT_EQ(std::string(right.begin() + 4, right.end()), "Right side f");

    for (const char* absent : {"F1Mx", "F2Ac", "TC1P", "#KEY"})
        read(absent, 2, kSMCKeyNotFound);
    SMCKeyInfo i;
    ASSERT_EQ(info("F1Tg", i), kSMCSuccess);
    EXPECT_EQ(i.dataType, keyCode("fpe2"));
    EXPECT_EQ(i.attributes, kSMCAttrRead | kSMCAttrWrite);
    ASSERT_EQ(info("F1Ac", i), kSMCSuccess);
    EXPECT_EQ(i.attributes, kSMCAttrRead);
}

TEST_F(ApplesmcTest, IndexModeWritesGoToFanAttributes)
{
    backend(true);
    EXPECT_EQ(write("F0Tg", {0x00, 0x00, 0xfa, 0x44}), kSMCSuccess);  // 2000.0f
    EXPECT_EQ(get("fan1_output"), "2000");
    EXPECT_EQ(write("F1Tg", {0x1f, 0x40}), kSMCSuccess);  // fpe2 2000
    EXPECT_EQ(get("fan2_output"), "2000");
    EXPECT_EQ(write("F0Md", {0x01}), kSMCSuccess);
    EXPECT_EQ(get("fan1_manual"), "1");
    EXPECT_EQ(write("F0Md", {0x00}), kSMCSuccess);
    EXPECT_EQ(get("fan1_manual"), "0");

    EXPECT_EQ(write("TC0P", {0x30, 0}), kSMCKeyNotWritable);
    EXPECT_EQ(write("F0Ac", {0x1f, 0x40}), kSMCKeyNotWritable);
    EXPECT_EQ(write("F2Tg", {0x1f, 0x40}), kSMCKeyNotWritable);  // no fan3
    EXPECT_EQ(write("F0Mn", {0x1f, 0x40}), kSMCKeyNotFound);
    EXPECT_EQ(write("F0Tg", {0x1f, 0x40}), kSMCKeySizeMismatch);
    EXPECT_EQ(get("fan1_output"), "2000");

    std::filesystem::remove(dir + "/fan2_output");
    EXPECT_EQ(write("F1Tg", {0x1f, 0x40}), kSMCError);
    EXPECT_FALSE(std::filesystem::exists(dir + "/fan2_output"));
}

TEST_F(ApplesmcTest, AttributeModeWritesGoToFanAttributes)
{
    backend(false);
    EXPECT_EQ(write("F1Tg", {0x1f, 0x40}), kSMCSuccess);
    EXPECT_EQ(get("fan2_output"), "2000");
    EXPECT_EQ(write("F1Mn", {0x0f, 0xa0}), kSMCSuccess);
    EXPECT_EQ(get("fan2_min"), "1000");
    EXPECT_EQ(write("F1Md", {0x00}), kSMCSuccess);
    EXPECT_EQ(get("fan2_manual"), "0");
    EXPECT_EQ(write("F0Mx", {0x1f, 0x40}), kSMCKeyNotWritable);
    EXPECT_EQ(write("TC0P", {0x30, 0}), kSMCKeyNotWritable);
    EXPECT_EQ(write("F2Tg", {0x1f, 0x40}), kSMCKeyNotFound);
}

TEST(SysfsDeviceTest, ReadsBinaryAndNeverCreatesAttributes)
{
    char pattern[] = "/tmp/sysfs-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::ofstream(dir + "/data", std::ios::binary).write("\x01\x00\x02", 3);
    SysfsDevice device(dir);
    EXPECT_EQ(device.read("data"), std::string("\x01\x00\x02", 3));
    EXPECT_TRUE(device.write("data", "7"));
    EXPECT_EQ(device.read("data"), "7");
    EXPECT_FALSE(device.write("absent", "1"));
    EXPECT_FALSE(device.read("absent"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/absent"));
    std::filesystem::remove_all(dir);
}

}  // namespace
