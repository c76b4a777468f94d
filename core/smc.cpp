#include "smc.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

io_connect_t g_connection = 0;

struct KeyInfoCache {
    // A mutex rather than a spin lock: the lock is held across the call into
    // the SMC, which may sleep on a file or the driver.
    std::mutex lock;
    RZSMCKeyInfoCacheEntry entries[kSMCKeyInfoCacheCapacity];
    int32_t count = 0;
};

KeyInfoCache& cache()
{
    static KeyInfoCache c;
    return c;
}

}  // namespace

uint32_t smcKeyCode(const char* key)
{
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i)
        code += static_cast<uint32_t>(static_cast<uint8_t>(key[i])) << (24 - 8 * i);
    return code;
}

kern_return_t smcOpenConnection()
{
    mach_port_t masterPort = 0;
    IOMasterPort(MACH_PORT_NULL, &masterPort);

    io_iterator_t iterator = 0;
    const kern_return_t result = IOServiceGetMatchingServices(masterPort, IOServiceMatching("AppleSMC"), &iterator);
    if (result != kIOReturnSuccess) {
        std::printf("Error: IOServiceGetMatchingServices() = %08x\n", static_cast<unsigned>(result));
        return 1;
    }
    const io_object_t device = IOIteratorNext(iterator);
    IOObjectRelease(iterator);
    if (device == 0) {
        std::printf("Error: no SMC found\n");
        return 1;
    }
    const kern_return_t opened = IOServiceOpen(device, mach_task_self(), 0, &g_connection);
    IOObjectRelease(device);
    if (opened != kIOReturnSuccess) {
        std::printf("Error: IOServiceOpen() = %08x\n", static_cast<unsigned>(opened));
        return 1;
    }
    return kIOReturnSuccess;
}

kern_return_t smcCloseConnection()
{
    return IOServiceClose(g_connection);
}

kern_return_t smcCallStruct(uint32_t selector, const RZSMCParamBlock* input, RZSMCParamBlock* output)
{
    size_t outputSize = sizeof(RZSMCParamBlock);
    return IOConnectCallStructMethod(g_connection, selector, input, sizeof(RZSMCParamBlock), output, &outputSize);
}

kern_return_t smcGetKeyInfo(uint32_t key, RZSMCKeyInfoCacheEntry* info)
{
    auto& c = cache();
    std::lock_guard guard(c.lock);
    for (int32_t i = 0; i < c.count; ++i) {
        if (c.entries[i].key == key) {
            *info = c.entries[i];
            return kIOReturnSuccess;
        }
    }

    RZSMCParamBlock input{};
    RZSMCParamBlock output{};
    input.key = key;
    input.data8 = kSMCReadKeyInfo;
    const kern_return_t result = smcCallStruct(kSMCUserClientSelector, &input, &output);
    if (result != kIOReturnSuccess)
        return result;

    info->key = key;
    info->dataSize = output.keyInfo.dataSize;
    info->dataType = output.keyInfo.dataType;
    std::memcpy(&info->attributes, &output.keyInfo.dataAttributes, sizeof info->attributes);
    // A lookup the controller did not answer (a passing driver error) is not
    // remembered, or the key would read 0 for the rest of the process's life.
    if (output.result == 0 && c.count <= kSMCKeyInfoCacheCapacity - 1)
        c.entries[c.count++] = *info;
    return kIOReturnSuccess;
}

kern_return_t smcReadKey(const char* key, RZSMCValue* value)
{
    std::memset(value, 0, sizeof *value);
    std::memcpy(value->key, key, 4);

    RZSMCKeyInfoCacheEntry info{};
    const uint32_t code = smcKeyCode(value->key);
    kern_return_t result = smcGetKeyInfo(code, &info);
    if (result != kIOReturnSuccess)
        return result;

    value->dataSize = info.dataSize;
    smcUInt32ToKey(info.dataType, value->dataType);

    RZSMCParamBlock input{};
    RZSMCParamBlock output{};
    input.key = code;
    input.keyInfo.dataSize = value->dataSize;
    input.data8 = kSMCReadBytes;
    result = smcCallStruct(kSMCUserClientSelector, &input, &output);
    if (result != kIOReturnSuccess)
        return result;
    std::memcpy(value->bytes, output.bytes, sizeof value->bytes);
    return kIOReturnSuccess;
}

kern_return_t SMCWriteKey(const RZSMCValue& value)
{
    RZSMCValue current;
    kern_return_t result = smcReadKey(value.key, &current);
    if (result != kIOReturnSuccess)
        return result;
    if (current.dataSize != value.dataSize)
        return kIOReturnBadArgument;

    RZSMCParamBlock input{};
    RZSMCParamBlock output{};
    input.key = smcKeyCode(value.key);
    input.data8 = kSMCWriteBytes;
    input.keyInfo.dataSize = value.dataSize;
    std::memcpy(input.bytes, value.bytes, sizeof input.bytes);
    return smcCallStruct(kSMCUserClientSelector, &input, &output);
}

kern_return_t smcWriteHexString(const char* key, const char* hex)
{
    RZSMCValue value{};
    std::memcpy(value.key, key, 4);
    const size_t length = std::strlen(hex);
    uint32_t count = 0;
    // Two digits a byte; a value holds 32 bytes, so further digits cannot be sent.
    for (size_t i = 0; i < length && count < sizeof value.bytes; i += 2) {
        const char pair[3] = {hex[i], i + 1 < length ? hex[i + 1] : '\0', '\0'};
        value.bytes[count++] = static_cast<uint8_t>(std::strtol(pair, nullptr, 16));
    }
    value.dataSize = count;
    const kern_return_t result = SMCWriteKey(value);
    if (result != kIOReturnSuccess)
        std::printf("Error: SMCWriteKey() = %08x\n", static_cast<unsigned>(result));
    return result;
}

uint32_t smcBytesToUInt(const uint8_t* bytes, int length, int base)
{
    uint32_t total = 0;
    for (int i = 0; i < length; ++i) {
        const int shift = 8 * (length - 1 - i);
        if (shift >= 32)
            continue;
        if (base == 16)
            total += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[i])) << shift);
        else
            total += static_cast<uint32_t>(bytes[i]) << shift;
    }
    return total;
}

void smcUInt32ToKey(uint32_t code, char text[5])
{
    text[0] = static_cast<char>(code >> 24);
    text[1] = static_cast<char>(code >> 16);
    text[2] = static_cast<char>(code >> 8);
    text[3] = static_cast<char>(code);
    text[4] = '\0';
}

float smcFixedPointToFloat(const uint8_t* bytes, int size, int fractionBits)
{
    float total = 0;
    for (int i = 0; i < size; ++i) {
        if (i == size - 1)
            total += static_cast<float>((bytes[i] >> fractionBits) + (bytes[i] & 3) * 0.25);
        else
            total += static_cast<float>(bytes[i] * std::ldexp(1.0, (size - 1 - i) * (8 - fractionBits)));
    }
    return total;
}

void smcResetForTesting()
{
    if (g_connection)
        IOServiceClose(g_connection);
    g_connection = 0;
    auto& c = cache();
    std::lock_guard guard(c.lock);
    c.count = 0;
}

int smcKeyInfoCacheCountForTesting()
{
    auto& c = cache();
    std::lock_guard guard(c.lock);
    return c.count;
}
