#include <gtest/gtest.h>

#include "FakeSMC.h"
#include "smc.h"

namespace {

class SMCAccessTest : public FakeSMCTest {
protected:
    void open()
    {
        ASSERT_EQ(smcOpenConnection(), 0);
    }
};

TEST_F(SMCAccessTest, ReadSendsKeyInfoOnceThenReadsWithTheKeysSize)
{
    fake->set("TC0P", "sp78", {0x2A, 0x80});
    open();

    RZSMCValue value;
    ASSERT_EQ(smcReadKey("TC0P", &value), kIOReturnSuccess);
    EXPECT_STREQ(value.key, "TC0P");
    EXPECT_STREQ(value.dataType, "sp78");
    EXPECT_EQ(value.dataSize, 2u);
    EXPECT_EQ(value.bytes[0], 0x2A);
    EXPECT_EQ(value.bytes[1], 0x80);
    EXPECT_EQ(value.bytes[2], 0);  // beyond dataSize stays zero

    ASSERT_EQ(fake->calls.size(), 2u);
    EXPECT_EQ(fake->calls[0].command, 9);
    EXPECT_EQ(fake->calls[0].key, 0x54433050u);
    EXPECT_EQ(fake->calls[1].command, 5);
    EXPECT_EQ(fake->calls[1].key, 0x54433050u);
    EXPECT_EQ(fake->calls[1].dataSize, 2u);

    // A repeated read costs one call: the key information is cached.
    ASSERT_EQ(smcReadKey("TC0P", &value), kIOReturnSuccess);
    EXPECT_EQ(fake->calls.size(), 3u);
    EXPECT_EQ(fake->count(9), 1);
}

TEST_F(SMCAccessTest, CacheHoldsAHundredKeysAndThe101stAsksEveryTime)
{
    std::vector<std::string> keys;
    for (int i = 0; i < 101; ++i) {
        char key[5];
        std::snprintf(key, sizeof key, "T%03d", i);
        keys.push_back(key);
        fake->set(key, "ui8 ", {static_cast<uint8_t>(i + 1)});
    }
    open();
    RZSMCValue value;
    for (const auto& key : keys)
        ASSERT_EQ(smcReadKey(key.c_str(), &value), kIOReturnSuccess);
    EXPECT_EQ(smcKeyInfoCacheCountForTesting(), 100);
    EXPECT_EQ(fake->count(9), 101);

    fake->calls.clear();
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(smcReadKey(keys[100].c_str(), &value), kIOReturnSuccess);
        EXPECT_EQ(value.bytes[0], 101);
    }
    EXPECT_EQ(fake->count(9), 3);

    fake->calls.clear();
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(smcReadKey(keys[i].c_str(), &value), kIOReturnSuccess);
    EXPECT_EQ(fake->count(9), 0);
    EXPECT_EQ(smcKeyInfoCacheCountForTesting(), 100);
}

TEST_F(SMCAccessTest, AbsentKeyReadsAsEmptyValue)
{
    open();
    RZSMCValue value;
    value.dataSize = 7;
    // The controller answers, but with no data: the value stays zero-filled.
    EXPECT_EQ(smcReadKey("XXXX", &value), kIOReturnSuccess);
    EXPECT_EQ(value.dataSize, 0u);
    EXPECT_STREQ(value.key, "XXXX");
    // Not remembered: a key that answers later (a passing driver error) reads again.
    EXPECT_EQ(smcKeyInfoCacheCountForTesting(), 0);
    fake->set("XXXX", "ui8 ", {9});
    ASSERT_EQ(smcReadKey("XXXX", &value), kIOReturnSuccess);
    EXPECT_EQ(value.bytes[0], 9);
}

TEST_F(SMCAccessTest, WithoutAnSMCOpenPrintsOnceAndEveryReadFails)
{
    smc::setServiceProviderForTesting([] { return std::shared_ptr<smc::SMCBackend>(); });
    testing::internal::CaptureStdout();
    EXPECT_EQ(smcOpenConnection(), 1);
    RZSMCValue value;
    EXPECT_NE(smcReadKey("TC0P", &value), kIOReturnSuccess);
    EXPECT_NE(smcReadKey("TC0P", &value), kIOReturnSuccess);
    EXPECT_EQ(value.dataSize, 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: no SMC found\n");
}

TEST_F(SMCAccessTest, WritesCheckTheKeysSizeFirst)
{
    fake->set("F0Md", "ui8 ", {0x00});
    open();

    RZSMCValue wrong{};
    std::memcpy(wrong.key, "F0Md", 5);
    wrong.dataSize = 2;
    EXPECT_EQ(SMCWriteKey(wrong), static_cast<kern_return_t>(0xE00002BC));
    EXPECT_EQ(fake->count(6), 0);

    testing::internal::CaptureStdout();
    EXPECT_EQ(smcWriteHexString("F0Md", "01"), kIOReturnSuccess);
    EXPECT_EQ(smcWriteHexString("F0Md", "0102"), static_cast<kern_return_t>(0xE00002BC));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: SMCWriteKey() = e00002bc\n");
    EXPECT_EQ(fake->count(6), 1);
    EXPECT_EQ(fake->keys[smcKeyCode("F0Md")].bytes, std::vector<uint8_t>{0x01});
}

TEST(SMCConversions, BytesKeysAndFixedPoint)
{
    const uint8_t bytes[] = {0x12, 0xFF, 0x80};
    EXPECT_EQ(smcBytesToUInt(bytes, 3, 10), 0x12FF80u);
    // With base 16 each byte is sign-extended before it is added.
    EXPECT_EQ(smcBytesToUInt(bytes, 2, 16), static_cast<uint32_t>(0x1200 + -1));
    EXPECT_EQ(smcBytesToUInt(bytes, 0, 10), 0u);
    EXPECT_EQ(smcBytesToUInt(bytes, -1, 10), 0u);

    char key[5];
    smcUInt32ToKey(0x54433050, key);
    EXPECT_STREQ(key, "TC0P");
    EXPECT_EQ(smcKeyCode("TC0P"), 0x54433050u);

    const uint8_t fpe2[] = {0x1F, 0x40};
    EXPECT_FLOAT_EQ(smcFixedPointToFloat(fpe2, 2, 2), 2000.0f);
}

}  // namespace
