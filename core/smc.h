#pragma once
// SMC key access: one connection per process to the "AppleSMC" service and
// the struct-method calls that read key information and key bytes.
#include <cstddef>
#include <cstdint>

#include "IOKit.h"

enum RZSMCCommand : uint8_t {
    kSMCReadBytes = 5,
    kSMCWriteBytes = 6,
    kSMCReadKeyInfo = 9,
};

constexpr uint32_t kSMCUserClientSelector = 2;

struct RZSMCKeyInfo {
    uint32_t dataSize;
    uint32_t dataType;
    uint8_t dataAttributes;
    uint8_t padding[3];
};

// The record exchanged with the user client, in host byte order.
struct RZSMCParamBlock {
    uint32_t key;
    uint8_t version[8];
    uint8_t powerLimit[16];
    RZSMCKeyInfo keyInfo;
    uint8_t result;
    uint8_t status;
    uint8_t data8;
    uint8_t padding;
    uint32_t data32;
    uint8_t bytes[32];
};
static_assert(sizeof(RZSMCParamBlock) == 80);
static_assert(offsetof(RZSMCParamBlock, keyInfo) + offsetof(RZSMCKeyInfo, dataSize) == 28);
static_assert(offsetof(RZSMCParamBlock, keyInfo) + offsetof(RZSMCKeyInfo, dataType) == 32);
static_assert(offsetof(RZSMCParamBlock, keyInfo) + offsetof(RZSMCKeyInfo, dataAttributes) == 36);
static_assert(offsetof(RZSMCParamBlock, result) == 40);
static_assert(offsetof(RZSMCParamBlock, status) == 41);
static_assert(offsetof(RZSMCParamBlock, data8) == 42);
static_assert(offsetof(RZSMCParamBlock, data32) == 44);
static_assert(offsetof(RZSMCParamBlock, bytes) == 48);

struct RZSMCValue {
    char key[5];
    uint32_t dataSize;
    char dataType[5];
    uint8_t bytes[32];
};

// One cached answer of the key-information command.
struct RZSMCKeyInfoCacheEntry {
    uint32_t key;
    uint32_t dataSize;
    uint32_t dataType;
    uint32_t attributes;  // the attributes byte with the padding after it
};
constexpr int kSMCKeyInfoCacheCapacity = 100;

kern_return_t smcOpenConnection();
kern_return_t smcCloseConnection();
kern_return_t smcGetKeyInfo(uint32_t key, RZSMCKeyInfoCacheEntry* info);
kern_return_t smcReadKey(const char* key, RZSMCValue* value);
kern_return_t SMCWriteKey(const RZSMCValue& value);
kern_return_t smcWriteHexString(const char* key, const char* hex);
kern_return_t smcCallStruct(uint32_t selector, const RZSMCParamBlock* input, RZSMCParamBlock* output);

uint32_t smcKeyCode(const char* key);
uint32_t smcBytesToUInt(const uint8_t* bytes, int length, int base);
void smcUInt32ToKey(uint32_t code, char text[5]);
float smcFixedPointToFloat(const uint8_t* bytes, int size, int fractionBits);

// Forgets the connection and the key-information cache (tests only).
void smcResetForTesting();
int smcKeyInfoCacheCountForTesting();
