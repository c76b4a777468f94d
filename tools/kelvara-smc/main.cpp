// "Kelvara SMC": writes one SMC key. Installed setuid root, so every argument
// is checked before anything is touched, and root rights are kept only for
// the kernel driver, which needs them. Run by root with --install, it puts
// a copy of itself at the installed path.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "ApplesmcBackend.h"
#include "Install.h"
#include "SMCServices.h"
#include "VirtualSMC.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kWriteError = 1;

int usage(const char* problem)
{
    std::fprintf(stderr, "Kelvara SMC: %s (usage: -k KEY -w HEXBYTES)\n", problem);
    return kUsageError;
}

bool validKey(const char* key)
{
    if (std::strlen(key) != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool parseHex(const char* hex, std::vector<uint8_t>& bytes)
{
    const size_t length = std::strlen(hex);
    if (length == 0 || length % 2 != 0 || length > 64)
        return false;
    for (size_t i = 0; i < length; i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(hex[i])) || !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
            return false;
        const char pair[3] = {hex[i], hex[i + 1], '\0'};
        bytes.push_back(static_cast<uint8_t>(std::strtoul(pair, nullptr, 16)));
    }
    return true;
}

bool dropPrivileges()
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (geteuid() == 0 && uid != 0 && setgroups(0, nullptr) != 0)
        return false;
    if (setgid(gid) != 0 || setuid(uid) != 0)
        return false;
    // Make sure root cannot be taken back.
    return uid == 0 || (setuid(0) != 0 && geteuid() == uid && getegid() == gid);
}

const char* describe(uint8_t result)
{
    switch (result) {
    case smc::kSMCKeyNotFound:
        return "no such key";
    case smc::kSMCKeyNotWritable:
        return "key cannot be written";
    case smc::kSMCKeySizeMismatch:
        return "value has the wrong size for the key";
    default:
        return "write failed";
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--install") == 0)
        return installSelf(argv[2], argv[3]);
    if (argc != 5 || std::strcmp(argv[1], "-k") != 0 || std::strcmp(argv[3], "-w") != 0)
        return usage("expected exactly -k KEY -w HEXBYTES");
    const char* key = argv[2];
    if (!validKey(key))
        return usage("the key must be four printable ASCII characters");
    std::vector<uint8_t> bytes;
    if (!parseHex(argv[4], bytes))
        return usage("the value must be an even number of hex digits, 1 to 32 bytes");

    std::unique_ptr<smc::SMCBackend> backend;
    if (smc::ApplesmcBackend::isPresent(smc::kApplesmcDevicePath)) {
        backend = std::make_unique<smc::ApplesmcBackend>(smc::kApplesmcDevicePath);
    } else {
        // The virtual SMC lives in the user's own home and needs no rights.
        if (!dropPrivileges()) {
            std::fprintf(stderr, "Kelvara SMC: could not give up root rights\n");
            return kWriteError;
        }
        backend = std::make_unique<smc::VirtualSMC>();
    }

    const uint32_t code = smc::keyCode(key);
    smc::SMCKeyInfo info;
    uint8_t result = backend->keyInfo(code, info);
    if (result == smc::kSMCSuccess && info.dataSize != bytes.size())
        result = smc::kSMCKeySizeMismatch;
    if (result == smc::kSMCSuccess) {
        smc::SMCBytes buffer{};
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        result = backend->writeKey(code, info.dataSize, buffer);
    }
    if (result != smc::kSMCSuccess) {
        std::fprintf(stderr, "Kelvara SMC: %s: %s\n", key, describe(result));
        return kWriteError;
    }
    return 0;
}
