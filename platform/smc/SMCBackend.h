#pragma once
// One SMC as seen from the user client: key information, reads and writes.
// Results are SMC result bytes, as the controller itself reports them.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace smc {

enum SMCResult : uint8_t {
    kSMCSuccess = 0x00,
    kSMCError = 0x01,
    kSMCBadCommand = 0x82,
    kSMCBadParameter = 0x83,
    kSMCKeyNotFound = 0x84,
    kSMCKeyNotReadable = 0x85,
    kSMCKeyNotWritable = 0x86,
    kSMCKeySizeMismatch = 0x87,
};

constexpr uint8_t kSMCAttrRead = 0x80;
constexpr uint8_t kSMCAttrWrite = 0x40;

using SMCBytes = std::array<uint8_t, 32>;

struct SMCKeyInfo {
    uint32_t dataSize = 0;
    uint32_t dataType = 0;
    uint8_t attributes = 0;
};

// "TC0P" -> 0x54433050; shorter text is padded with zero bytes.
uint32_t keyCode(const std::string& key);
std::string keyText(uint32_t code);

class SMCBackend {
public:
    virtual ~SMCBackend() = default;
    virtual uint8_t keyInfo(uint32_t key, SMCKeyInfo& info) = 0;
    virtual uint8_t readKey(uint32_t key, uint32_t dataSize, SMCBytes& out) = 0;
    virtual uint8_t writeKey(uint32_t key, uint32_t dataSize, const SMCBytes& in) = 0;
};

}  // namespace smc
